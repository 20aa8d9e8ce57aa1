// The transport bar and the choice of the next track.
#include "player/form1.h"

#include <QCoreApplication>

namespace {
constexpr int kEditorHeight = 6495;
constexpr int kPlainHeight = 3765;
} // namespace

void Form1::ShowModeButton() {
    switch (PlayMode) {
    case 0:
        FlatBar1->PressButton(7);
        break;
    case 7:
    case 77:
        FlatBar1->PressButton(8);
        break;
    case 12:
        FlatBar1->PressButton(9);
        break;
    case 9:
        FlatBar1->PressButton(10);
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

void Form1::FlatBar1_Click(int Id) {
    QCoreApplication::processEvents();
    switch (Id) {
    case 0: { // Lecture
        if (!ActiveMovie1->FileName().isEmpty()) {
            ActiveMovie1->Run();
        } else {
            FlatBar1_Click(2);
            const QString selected = File1->FileName();
            if (!selected.isEmpty() && PlayMode != 9) {
                OpenTrack(TrackPath(selected));
            } else if (PlayMode == 0 || PlayMode == 12) {
                File1->setListIndex(0);
                TrackIndex = 0;
                if (File1->ListCount() > 0)
                    OpenTrack(TrackPath(File1->List(0)));
            } else if (PlayMode == 7) {
                NoRepet();
            } else if (PlayMode == 9) {
                if (List3->count() == 0 || List3->item(0)->text().isEmpty()) {
                    // Opens the editor; a second Lecture must not toggle it shut.
                    if (Height() != kEditorHeight)
                        EditProg_Click();
                    return;
                }
                TrackIndex = 0;
                OpenTrack(List4->item(0)->text() + List3->item(0)->text());
                List3->setCurrentRow(0);
            } else if (PlayMode == 77) {
                const int count = File1->ListCount();
                if (count > 0) {
                    const int n = int(Rnd() * count);
                    OpenTrack(TrackPath(File1->List(n)));
                    File1->setListIndex(n);
                }
            }
        }
        if (Fade->isChecked()) {
            if (PauseFaded)
                FadeIn();
            PauseFaded = false;
        }
        if (Label2->text().endsWith(" < Pause >")) {
            Label2->setText(Label2->text().chopped(10));
            Timer2->stop();
        }
        if (Muted)
            FlatBar6_Click(1);
        break;
    }
    case 1: // Pause
        if (ActiveMovie1->CurrentState() == 2) {
            if (Fade->isChecked()) {
                PauseFaded = true;
                FadeOut();
                VolumeLevel = -(VScroll1->value() * 50);
            }
            ActiveMovie1->Pause();
            Timer2_Timer();
            Timer2->start();
        } else if (ActiveMovie1->CurrentState() == 1) {
            FlatBar1_Click(0);
        }
        break;
    case 2: { // Stop
        RandomPool.clear();
        const int saved = PlayMode;
        PlayMode = 44;
        if (Fade->isChecked())
            FadeOut();
        ActiveMovie1->setFileName("");
        PlayMode = saved;
        VolumeLevel = -(VScroll1->value() * 50);
        ActiveMovie1->setVisible(false);
        break;
    }
    case 3: { // Début de la piste
        const int state = ActiveMovie1->CurrentState();
        if (state == 1 || state == 2) {
            if (!ActiveMovie1->FileName().isEmpty())
                ActiveMovie1->setCurrentPosition(0);
        } else {
            TrackIndex = TrackIndex - 1;
            if (TrackIndex < 0 || TrackIndex >= File1->ListCount()) {
                TrackIndex = 0;
                File1->setListIndex(0);
            } else {
                File1->setListIndex(TrackIndex);
            }
        }
        break;
    }
    case 4: { // Avancer d'une piste
        const int state = ActiveMovie1->CurrentState();
        if (state == 1 || state == 2) {
            if (Fade->isChecked())
                FadeOut();
            ActiveMovie1->Stop();
        } else if (!File1->List(TrackIndex + 1).isEmpty()) {
            TrackIndex = TrackIndex + 1;
            File1->setListIndex(TrackIndex);
        }
        break;
    }
    case 5:
        Strobe_Click();
        break;
    case 7:
        if (Height() == kEditorHeight)
            EditProg_Click();
        PlayMode = 0;
        ActiveMovie1->setPlayCount(1);
        break;
    case 8:
        PlayMode = Randloo->isChecked() ? 77 : 7;
        if (Height() == kEditorHeight)
            EditProg_Click();
        ActiveMovie1->setPlayCount(1);
        break;
    case 9:
        if (Height() == kEditorHeight)
            EditProg_Click();
        PlayMode = 12;
        ActiveMovie1->setPlayCount(1);
        break;
    case 10:
        if (PlayMode == 7)
            Dir1_Change();
        if (Height() == kPlainHeight)
            EditProg_Click();
        PlayMode = 9;
        ActiveMovie1->setPlayCount(1);
        break;
    case 11:
        ActiveMovie1->setPlayCount(10000);
        break;
    default:
        break;
    }
}

// What happens when the media control reports the stopped state.
void Form1::stoppedRule() {
    switch (PlayMode) {
    case 0:
        if (LectCont->isChecked())
            Continue();
        break;
    case 12:
    case 9:
        Continue();
        break;
    case 7:
        NoRepet();
        break;
    case 77:
        randomPick();
        break;
    default:
        ActiveMovie1->setVisible(false);
        Label2->setText("Tunabel - Arrêt");
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
    const int n = DrawFor(77).pick;
    PendingDraw.reset();
    File1->setListIndex(n);
    OpenTrack(TrackPath(File1->List(n)));
}

void Form1::Continue() {
    const ContinueStep step = ContinueTarget();
    CurrentFolder = step.folder;
    if (!step.path.isEmpty()) {
        OpenTrack(step.path);
        if (PlayMode == 9)
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
    const RandomDraw draw = DrawFor(7);
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
        // The pool was built for a longer folder: a new cycle starts.
        RandomPool.clear();
        NoRepet();
    }
}

// The windows these open come with their own code.
void Form1::Speed_Click() {}
void Form1::Strobe_Click() {}
