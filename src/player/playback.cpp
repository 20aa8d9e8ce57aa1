// Between the player's commands and the media control: fades, the "&Son"
// menu, the media notifications, the display line and its timers.
#include "player/form1.h"

#include "storage/settingskeys.h"

#include <QCoreApplication>
#include <QCursor>

#include <cmath>

namespace {
constexpr const char *kPauseSuffix = " < Pause >";

bool endsWithPause(const QString &caption) {
    return caption.endsWith(QLatin1String(kPauseSuffix));
}

QString twoDigits(long long n) {
    const QString s = "0" + QString::number(n);
    return s.right(2);
}
} // namespace

QString Form1::Pos(double Position) {
    // A remaining time can come out a hair below zero at the very end.
    if (!(Position > 0))
        Position = 0;
    const double minutes = std::floor(Position / 60);
    const long long seconds = std::llabs((long long)std::floor(Position - 60 * minutes));
    return QString::number((long long)minutes) + "'" + twoDigits(seconds);
}

QString Form1::LengthText(double length) {
    if (!(length > 0))
        length = 0;
    const double m = std::floor(length / 60);
    const long long ss = std::llabs((long long)std::floor(length - m * 60));
    return " " + QString::number((long long)m) + "'" + twoDigits(ss) + "\"";
}

void Form1::FadeIn() {
    VolumeLevel = -(VScroll1->value() * 50);
    for (LoopIndex = -4000; LoopIndex <= VolumeLevel; LoopIndex += 5)
        ActiveMovie1->setVolume(LoopIndex);
}

void Form1::FadeOut() {
    VolumeLevel = -(VScroll1->value() * 50);
    // Nothing is heard when nothing runs: a fade would only delay what follows.
    if (ActiveMovie1->CurrentState() != 2)
        return;
    for (LoopIndex = VolumeLevel; LoopIndex >= -4000; LoopIndex -= 20)
        ActiveMovie1->setVolume(LoopIndex);
}

void Form1::Play_Click(int Index) {
    if (Index >= 0 && Index <= 2) {
        FlatBar1_Click(Index);
    } else if (Index == 5 || Index == 6) {
        FlatBar1_Click(Index - 2);
    } else if (Index == 3) {
        VolumeLevel = -(VScroll1->value() * 50);
        for (LoopIndex = VolumeLevel; LoopIndex >= -4000 && ActiveMovie1->CurrentState() == 2; --LoopIndex)
            ActiveMovie1->setVolume(LoopIndex);
        FlatBar1_Click(2);
    }
}

void Form1::ActiveMovie1_OpenComplete() {
    const QString opened = ActiveMovie1->FileName();
    const double length = ActiveMovie1->Duration();
    double end = length;
    if (PlayMode == 12) {
        // An introduction length that is not a positive number counts as unset.
        bool ok = false;
        double s = Setting(Keys::IntroDuree).toDouble(&ok);
        if (!ok || !(s > 0)) {
            Introdu_Click();
            s = Setting(Keys::IntroDuree).toDouble(&ok);
        }
        if (ok && s > 0 && s <= length)
            end = s;
    }
    ActiveMovie1->setSelectionEnd(end);

    QCoreApplication::processEvents();
    if (ActiveMovie1->FileName() != opened) {
        // Closed or replaced while the pending events ran.
        setWindowEnabled(true);
        return;
    }
    ActiveMovie1->Run();

    LastCaption = "Tunabel - " + Nom(opened);
    if (Durée->isChecked())
        LastCaption += LengthText(length);
    SetTrayTip(LastCaption);
    setWindowEnabled(true);
    if (LastCaption.size() > 54 && LastCaption.startsWith("Tunabel - "))
        LastCaption = LastCaption.mid(10);
    Label2->setText(LastCaption);
}

void Form1::ActiveMovie1_StateChange(int oldState, int newState) {
    (void)oldState;
    if (newState == 2) {
        Image9->setPicture(Image1->Picture());
        SetTrayPicture(Image1->Picture());
        ActiveMovie1->setVisible(true);
        if (!Muted)
            ActiveMovie1->setVolume(VolumeLevel);
    } else if (newState == 0) {
        Image9->setPicture(Image1->Picture());
        stoppedRule();
    }
    // The paused report can arrive after Pause started the blink: it must
    // not end it.
    if (newState != 1) {
        if (endsWithPause(Label2->text()))
            Label2->setText(Label2->text().chopped(10));
        Timer2->stop();
    }
}

void Form1::ActiveMovie1_PositionChange(double oldPosition, double newPosition) {
    (void)oldPosition;
    (void)newPosition;
    if (ActiveMovie1->CurrentState() == 1)
        ActiveMovie1_Timer();
}

void Form1::ActiveMovie1_Timer() {
    const double length = ActiveMovie1->Duration();
    const double position = ActiveMovie1->CurrentPosition();
    const int state = ActiveMovie1->CurrentState();
    const QString times =
        " - Ecoulé " + Pos(position) + " - Restant " + Pos(length - position) + " - Total " + Pos(length);
    if (state == 1) {
        // Keep the blinking suffix where it is, so the blink stays regular.
        const QString suffix = endsWithPause(Label2->text()) ? kPauseSuffix : "";
        Label2->setText("Tunabel" + times + suffix);
    } else {
        if (Label2->text() != LastCaption)
            Label2->setText(LastCaption);
        const QString tip = Nom(ActiveMovie1->FileName()) + times;
        if (ActiveMovie1->toolTip() != tip)
            ActiveMovie1->setToolTip(tip);
    }
}

void Form1::ActiveMovie1_Error(int SCode, const QString &Description, const QString &Source,
                               bool *CancelDisplay) {
    (void)SCode;
    (void)Source;
    (void)CancelDisplay;
    setWindowEnabled(true);
    Message(Description, QMessageBox::NoIcon, kApp);
}

void Form1::ActiveMovie1_MouseDown(int Button, int Shift, float X, float Y) {
    (void)Shift;
    (void)X;
    (void)Y;
    if (Button == 2)
        Son->popup(QCursor::pos());
}

void Form1::Timer1_Timer() {
    Label2->setText(SavedCaption);
    LastCaption = SavedCaption;
    SavedCaption.clear();
    Timer1->stop();
}

void Form1::Timer2_Timer() {
    const QString caption = Label2->text();
    if (endsWithPause(caption)) {
        Label2->setText(caption.chopped(10));
        Image9->setPicture(Image1->Picture());
        SetTrayPicture(Image1->Picture());
    } else {
        Label2->setText(caption + kPauseSuffix);
        Image9->setPicture(Image2->Picture());
        SetTrayPicture(Image2->Picture());
    }
}
