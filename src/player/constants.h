#pragma once

// Values the main window's files share, each written once.

#include <QString>

#include <cmath>
#include <cstdlib>

// PlayMode's values. They are saved as these numbers, so they never change.
enum PlayModeValue : int {
    kModeContinuous = 0,
    kModeRandom = 7,        // without repetition: each file once a cycle
    kModeRandomRepeat = 77, // with repetition
    kModeIntroductions = 12,
    kModeProgramme = 9,
    kModeStopping = 44, // only while a user's stop closes the file
};

// FlatBar1's buttons, by the index its click reports. 7 to 11 are the mode
// buttons, one of them shown pressed.
enum TransportButton : int {
    kBarLecture = 0,
    kBarPause = 1,
    kBarStop = 2,
    kBarDebut = 3,   // start of the track, or the previous file
    kBarAvancer = 4, // end of the track, or the next file
    kBarStrobe = 5,
    kBarReduire = 6, // no action
    kBarContinue = 7,
    kBarAleatoire = 8,
    kBarIntroductions = 9,
    kBarProgrammation = 10,
    kBarRepetition = 11,
};

// The main window's heights in twips: the programme editor is shown exactly
// while the window is the taller one.
inline constexpr int kPlainHeight = 3765;  // 251 px
inline constexpr int kEditorHeight = 6495; // 433 px

// The media control's volume, in hundredths of a decibel, for a position of
// the volume slider (0 at the top is full volume, 100 gives -5000).
constexpr int SliderVolume(int sliderValue) {
    return -(sliderValue * 50);
}

// The display's text after a user's stop, and before anything plays.
inline const QString kStopCaption = QStringLiteral("Tunabel - Arrêt");

// What the pause blink adds to the display, and takes away again.
inline const QString kPauseSuffix = QStringLiteral(" < Pause >");
inline bool HasPauseSuffix(const QString &caption) {
    return caption.endsWith(kPauseSuffix);
}
inline QString WithoutPauseSuffix(const QString &caption) {
    return HasPauseSuffix(caption) ? caption.chopped(kPauseSuffix.size()) : caption;
}

// Seconds as whole minutes, an apostrophe and the seconds: "3'05" with the
// seconds on two digits, "3'5" without. A negative time reads as 0'00.
inline QString MinutesSeconds(double seconds, bool twoDigits = true) {
    if (!(seconds > 0))
        seconds = 0;
    const double minutes = std::floor(seconds / 60);
    const long long rest = std::llabs((long long)std::floor(seconds - 60 * minutes));
    const QString s = QString::number(rest);
    return QString::number((long long)minutes) + "'" + (twoDigits ? ("0" + s).right(2) : s);
}
