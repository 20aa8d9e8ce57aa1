// The transport bar and the choice of the next track.
#include "player/form1.h"

#include "player/constants.h"

#include <QCoreApplication>

void Form1::ShowModeButton() {
    switch (PlayMode) {
    case kModeContinuous:
        FlatBar1->PressButton(kBarContinue);
        break;
    case kModeRandom:
    case kModeRandomRepeat:
        FlatBar1->PressButton(kBarAleatoire);
        break;
    case kModeIntroductions:
        FlatBar1->PressButton(kBarIntroductions);
        break;
    case kModeProgramme:
        FlatBar1->PressButton(kBarProgrammation);
        break;
    default:
        break;
    }
}

QString Form1::TrackPath(const QString &name) const {
    return CurrentFolder + "/" + name;
}

void Form1::OpenTrack(const QString &filename) {
    if (filename.isEmpty())
        return;
    ActiveMovie1->setFileName(filename);
}

QString Form1::Nom(const QString &filename) {
    QString t = filename;
    const qsizetype slash = t.lastIndexOf('/');
    if (slash >= 0)
        t = t.mid(slash + 1);
    const qsizetype dot = t.lastIndexOf('.');
    // A name without a dot, or one that only starts with one, is kept whole.
    if (dot > 0)
        t.truncate(dot);
    return t;
}

// Every click first lets pending events run; the actions call each other
// through here (Lecture stops, Pause resumes with Lecture) so that they do too.
void Form1::FlatBar1_Click(int Id) {
    QCoreApplication::processEvents();
    switch (Id) {
    case kBarLecture:
        Lecture();
        break;
    case kBarPause:
        Pause();
        break;
    case kBarStop:
        Stop();
        break;
    case kBarDebut:
        DebutDeLaPiste();
        break;
    case kBarAvancer:
        AvancerDUnePiste();
        break;
    case kBarStrobe:
        Strobe_Click();
        break;
    case kBarContinue:
        LectureContinue();
        break;
    case kBarAleatoire:
        LectureAleatoire();
        break;
    case kBarIntroductions:
        LectureDesIntroductions();
        break;
    case kBarProgrammation:
        Programmation();
        break;
    case kBarRepetition:
        Repetition();
        break;
    default: // kBarReduire has no action
        break;
    }
}

void Form1::Lecture() {
    if (!ActiveMovie1->FileName().isEmpty())
        ActiveMovie1->Run(); // resume, or replay from the end
    else
        openFirstTrack();
    if (Fade->isChecked()) {
        if (PauseFaded)
            FadeIn();
        PauseFaded = false;
    }
    if (HasPauseSuffix(Label2->text())) {
        Label2->setText(WithoutPauseSuffix(Label2->text()));
        Timer2->stop();
    }
    if (Muted)
        FlatBar6_Click(1);
}

// Lecture with nothing loaded: the selected file, or where the mode starts.
void Form1::openFirstTrack() {
    FlatBar1_Click(kBarStop);
    const QString selected = File1->FileName();
    if (!selected.isEmpty() && PlayMode != kModeProgramme) {
        OpenTrack(TrackPath(selected));
    } else if (PlayMode == kModeContinuous || PlayMode == kModeIntroductions) {
        File1->setListIndex(0);
        TrackIndex = 0;
        if (File1->ListCount() > 0)
            OpenTrack(TrackPath(File1->List(0)));
    } else if (PlayMode == kModeRandom) {
        NoRepet();
    } else if (PlayMode == kModeProgramme) {
        openProgramme();
    } else if (PlayMode == kModeRandomRepeat) {
        const int count = File1->ListCount();
        if (count > 0) {
            const int n = int(Rnd() * count);
            OpenTrack(TrackPath(File1->List(n)));
            File1->setListIndex(n);
        }
    }
}

void Form1::openProgramme() {
    const QString first = ProgrammePath(0);
    if (first.isEmpty()) {
        // Opens the editor; a second Lecture must not toggle it shut.
        if (Height() != kEditorHeight)
            EditProg_Click();
        return;
    }
    TrackIndex = 0;
    OpenTrack(first);
    List3->setCurrentRow(0);
}

void Form1::Pause() {
    const int state = ActiveMovie1->CurrentState();
    if (state == kMediaRunning) {
        if (Fade->isChecked()) {
            PauseFaded = true;
            FadeOut();
            VolumeLevel = SliderVolume(VScroll1->value());
        }
        ActiveMovie1->Pause();
        Timer2_Timer();
        Timer2->start();
    } else if (state == kMediaPaused) {
        FlatBar1_Click(kBarLecture);
    }
}

// kModeStopping while the file closes: the stopped report that the close
// raises is a user's stop and starts no other track.
void Form1::Stop() {
    RandomPool.clear();
    const int saved = PlayMode;
    PlayMode = kModeStopping;
    if (Fade->isChecked())
        FadeOut();
    ActiveMovie1->setFileName("");
    PlayMode = saved;
    VolumeLevel = SliderVolume(VScroll1->value());
    ActiveMovie1->setVisible(false);
}

void Form1::DebutDeLaPiste() {
    const int state = ActiveMovie1->CurrentState();
    if (state == kMediaPaused || state == kMediaRunning) {
        if (!ActiveMovie1->FileName().isEmpty())
            ActiveMovie1->setCurrentPosition(0);
        return;
    }
    // Stopped: only the selection moves back, never before the first file.
    TrackIndex = TrackIndex - 1;
    if (TrackIndex < 0 || TrackIndex >= File1->ListCount())
        TrackIndex = 0;
    File1->setListIndex(TrackIndex);
    // A file left at its end plays again from here.
    OfferNextTrack();
}

void Form1::AvancerDUnePiste() {
    const int state = ActiveMovie1->CurrentState();
    if (state == kMediaPaused || state == kMediaRunning) {
        // The stopped report that follows moves on as the mode says.
        if (Fade->isChecked())
            FadeOut();
        ActiveMovie1->Stop();
    } else if (!File1->List(TrackIndex + 1).isEmpty()) {
        TrackIndex = TrackIndex + 1;
        File1->setListIndex(TrackIndex);
        OfferNextTrack();
    }
}

// The mode buttons change neither the file nor the playing: the new mode
// applies from the next end of track or the next Lecture, and to the file
// offered ahead at once.
void Form1::LectureContinue() {
    if (Height() == kEditorHeight)
        EditProg_Click();
    PlayMode = kModeContinuous;
    ActiveMovie1->setPlayCount(1);
    OfferNextTrack();
}

void Form1::LectureAleatoire() {
    PlayMode = Randloo->isChecked() ? kModeRandomRepeat : kModeRandom;
    if (Height() == kEditorHeight)
        EditProg_Click();
    ActiveMovie1->setPlayCount(1);
    OfferNextTrack();
}

void Form1::LectureDesIntroductions() {
    if (Height() == kEditorHeight)
        EditProg_Click();
    PlayMode = kModeIntroductions;
    ActiveMovie1->setPlayCount(1);
    OfferNextTrack();
}

void Form1::Programmation() {
    if (PlayMode == kModeRandom)
        Dir1_Change();
    if (Height() == kPlainHeight)
        EditProg_Click();
    PlayMode = kModeProgramme;
    ActiveMovie1->setPlayCount(1);
    OfferNextTrack();
}

void Form1::Repetition() {
    ActiveMovie1->setPlayCount(10000);
    OfferNextTrack();
}

// What happens when the media control reports the stopped state.
void Form1::stoppedRule() {
    switch (PlayMode) {
    case kModeContinuous:
        if (LectCont->isChecked())
            Continue();
        break;
    case kModeIntroductions:
    case kModeProgramme:
        Continue();
        break;
    case kModeRandom:
        NoRepet();
        break;
    case kModeRandomRepeat:
        randomPick();
        break;
    default:
        ActiveMovie1->setVisible(false);
        Label2->setText(kStopCaption);
        LastCaption = Label2->text();
        SetTrayTip(LastCaption);
        return;
    }
    // The file after the one just opened, offered while it only starts to
    // load: a short file may be read to its end before the next event.
    OfferNextTrack();
}

void Form1::randomPick() {
    const int count = File1->ListCount();
    if (count == 0)
        return;
    const int n = DrawFor(kModeRandomRepeat).pick;
    PendingDraw.reset();
    File1->setListIndex(n);
    OpenTrack(TrackPath(File1->List(n)));
}

void Form1::Continue() {
    const ContinueStep step = ContinueTarget();
    CurrentFolder = step.folder;
    if (!step.path.isEmpty()) {
        OpenTrack(step.path);
        if (PlayMode == kModeProgramme)
            List3->setCurrentRow(step.next);
        else
            File1->setListIndex(step.next);
    }
    TrackIndex = step.next;
}

void Form1::NoRepet() {
    const int count = File1->ListCount();
    if (count == 0)
        return;
    // Drawn before the pool is rebuilt, as NextTrack drew it.
    const RandomDraw draw = DrawFor(kModeRandom);
    PendingDraw.reset();
    if (RandomPool.isEmpty()) {
        RandomPool.reserve(count);
        for (int i = 0; i < count; ++i)
            RandomPool.append(i);
    }
    const int n = RandomPool[draw.slot];
    RandomPool.remove(draw.slot);
    if (n < count) {
        OpenTrack(TrackPath(File1->List(n)));
        File1->setListIndex(n);
    } else {
        // The pool was built for a longer folder: a new cycle starts, with
        // the pick drawn for it.
        RandomPool.clear();
        PendingDraw = RandomDraw{7, draw.fresh, draw.fresh, 0, count, -1};
        NoRepet();
    }
}
