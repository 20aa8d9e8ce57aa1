// Between the player's commands and the media control: fades, the "&Son"
// menu, the media notifications, the display line and its timers.
#include "player/form1.h"

#include "platform/filename.h"
#include "player/constants.h"
#include "storage/settingskeys.h"

#include <QCoreApplication>
#include <QCursor>

// A remaining time can come out a hair below zero at the very end: it
// reads 0'00.
QString Form1::Pos(double Position) {
    return MinutesSeconds(Position);
}

QString Form1::LengthText(double length) {
    return " " + MinutesSeconds(length) + "\"";
}

void Form1::FadeIn() {
    VolumeLevel = SliderVolume(VScroll1->value());
    for (LoopIndex = -4000; LoopIndex <= VolumeLevel; LoopIndex += 5)
        ActiveMovie1->setVolume(LoopIndex);
}

void Form1::FadeOut() {
    VolumeLevel = SliderVolume(VScroll1->value());
    // Nothing is heard when nothing runs: a fade would only delay what follows.
    if (ActiveMovie1->CurrentState() != kMediaRunning)
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
        VolumeLevel = SliderVolume(VScroll1->value());
        for (LoopIndex = VolumeLevel; LoopIndex >= -4000 && ActiveMovie1->CurrentState() == kMediaRunning;
             --LoopIndex)
            ActiveMovie1->setVolume(LoopIndex);
        FlatBar1_Click(kBarStop);
    }
}

void Form1::ActiveMovie1_OpenComplete() {
    const QString opened = ActiveMovie1->FileName();
    const double length = ActiveMovie1->Duration();
    double end = length;
    if (PlayMode == kModeIntroductions) {
        // An introduction length that is not a positive number counts as unset.
        double s = 0;
        bool ok = IntroSeconds(Setting(Keys::IntroDuree), s);
        if (!ok) {
            Introdu_Click();
            ok = IntroSeconds(Setting(Keys::IntroDuree), s);
        }
        if (ok && s <= length)
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

    LastCaption = "Tunabel - " + DisplayFileName(Nom(opened));
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
    if (newState == kMediaRunning) {
        Image9->setPicture(Image1->Picture());
        SetTrayPicture(Image1->Picture());
        ActiveMovie1->setVisible(true);
        if (!Muted)
            ActiveMovie1->setVolume(VolumeLevel);
    } else if (newState == kMediaStopped) {
        Image9->setPicture(Image1->Picture());
        stoppedRule();
    }
    // The paused report can arrive after Pause started the blink: it must
    // not end it.
    if (newState != kMediaPaused) {
        if (HasPauseSuffix(Label2->text()))
            Label2->setText(WithoutPauseSuffix(Label2->text()));
        Timer2->stop();
    }
}

void Form1::ActiveMovie1_PositionChange(double oldPosition, double newPosition) {
    (void)oldPosition;
    (void)newPosition;
    if (ActiveMovie1->CurrentState() == kMediaPaused)
        ActiveMovie1_Timer();
}

void Form1::ActiveMovie1_Timer() {
    const double length = ActiveMovie1->Duration();
    const double position = ActiveMovie1->CurrentPosition();
    const int state = ActiveMovie1->CurrentState();
    const QString times =
        " - Ecoulé " + Pos(position) + " - Restant " + Pos(length - position) + " - Total " + Pos(length);
    if (state == kMediaPaused) {
        // Keep the blinking suffix where it is, so the blink stays regular.
        const QString suffix = HasPauseSuffix(Label2->text()) ? kPauseSuffix : QString();
        Label2->setText("Tunabel" + times + suffix);
    } else {
        if (Label2->text() != LastCaption)
            Label2->setText(LastCaption);
        const QString tip = DisplayFileName(Nom(ActiveMovie1->FileName())) + times;
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
    if (HasPauseSuffix(caption)) {
        Label2->setText(WithoutPauseSuffix(caption));
        Image9->setPicture(Image1->Picture());
        SetTrayPicture(Image1->Picture());
    } else {
        Label2->setText(caption + kPauseSuffix);
        Image9->setPicture(Image2->Picture());
        SetTrayPicture(Image2->Picture());
    }
}
