// The transport bar and the choice of the next track, against the fake
// media control.
#include "support/playerfixture.h"

#include <QFileInfo>
#include <QSet>

// Readable failures.
inline void PrintTo(const QString &s, std::ostream *os) {
    *os << '"' << s.toStdString() << '"';
}

namespace {

class TransportTest : public PlayerTest {
protected:
    // A window in `mode` over a new folder of `count` numbered files.
    Form1 *start(int count, int mode, const QString &name = "music") {
        folder = makeNumberedFolder(name, count);
        load();
        enter(folder);
        form->PlayMode = mode;
        return form.get();
    }
    // Completes the pending open, then plays the file to its end.
    void finish(double length = 180) {
        media->completeOpen(length);
        media->reachEnd();
    }
    // Index of the numbered file opened last, -1 when it is not in `folder`.
    int lastIndex() const {
        if (media->opened.isEmpty())
            return -1;
        const QFileInfo fi(media->opened.last());
        if (fi.path() != folder)
            return -1;
        return fi.completeBaseName().mid(5).toInt();
    }
    void lecture() { form->FlatBar1_Click(0); }
    // Picks of NoRepet over `picks` ends of track, starting with a Lecture.
    QVector<int> randomPicks(int picks) {
        QVector<int> out;
        lecture();
        out << lastIndex();
        while (out.size() < picks) {
            finish();
            out << lastIndex();
        }
        return out;
    }

    QString folder;
};

} // namespace

TEST_F(TransportTest, ContinuousModeFollowsTheOptionAndWraps) {
    start(3, 0);
    lecture(); // nothing selected: the first file
    EXPECT_EQ(lastIndex(), 0);
    EXPECT_EQ(form->TrackIndex, 0);
    EXPECT_EQ(form->File1->ListIndex(), 0);
    for (int expected : {1, 2, 0}) {
        finish();
        EXPECT_EQ(lastIndex(), expected);
        EXPECT_EQ(form->TrackIndex, expected);
        EXPECT_EQ(form->File1->ListIndex(), expected);
    }
    // Without "Lecture continue" the end of a track starts nothing and
    // leaves the display as it was.
    form->LectCont->setChecked(false);
    media->completeOpen(180);
    const QString title = form->Label2->text();
    media->reachEnd();
    EXPECT_EQ(media->opened.size(), 4);
    EXPECT_EQ(form->Label2->text(), title);
}

TEST_F(TransportTest, IntroductionsAndRandomWithRepetitionMoveOn) {
    setting("Intro", "Durée", "10");
    start(4, 12);
    lecture();
    finish();
    finish();
    EXPECT_EQ(media->opened, QStringList({folder + "/track00000.mp3", folder + "/track00001.mp3",
                                          folder + "/track00002.mp3"}));
    EXPECT_EQ(form->TrackIndex, 2);

    form->PlayMode = 77;
    form->Random.seed(11);
    QSet<int> seen;
    for (int i = 0; i < 60; ++i) {
        finish();
        ASSERT_GE(lastIndex(), 0);
        EXPECT_EQ(form->File1->ListIndex(), lastIndex());
        seen << lastIndex();
    }
    EXPECT_EQ(seen.size(), 4);
}

TEST_F(TransportTest, UserStopStartsNothingInAnyMode) {
    setting("Intro", "Durée", "10");
    for (int mode : {0, 7, 77, 12}) {
        SCOPED_TRACE(mode);
        start(3, mode, QString("m%1").arg(mode));
        lecture();
        media->completeOpen(180);
        form->FlatBar1_Click(2);
        EXPECT_EQ(media->opened.size(), 1);
        EXPECT_TRUE(media->FileName().isEmpty());
        EXPECT_EQ(form->PlayMode, mode);
        EXPECT_TRUE(form->RandomPool.isEmpty());
        EXPECT_EQ(form->Label2->text(), "Tunabel - Arrêt");
        EXPECT_EQ(form->TrayData.tipText(), "Tunabel - Arrêt");
        EXPECT_FALSE(media->isVisible());
    }
}

TEST_F(TransportTest, PickWhilePlayingOpensOnlyThePickedFile) {
    start(3, 0);
    lecture();
    media->completeOpen(180);
    pick(2);
    EXPECT_EQ(media->opened, QStringList({folder + "/track00000.mp3", folder + "/track00002.mp3"}));
    EXPECT_EQ(form->TrackIndex, 2);
    EXPECT_EQ(form->PlayMode, 0);
    EXPECT_FALSE(form->isEnabled());
    media->completeOpen(100);
    EXPECT_TRUE(form->isEnabled());
    EXPECT_EQ(form->LastCaption, "Tunabel - track00002 1'40\"");
    // The next track follows the picked one.
    media->reachEnd();
    EXPECT_EQ(lastIndex(), 0);
}

TEST_F(TransportTest, RandomWithoutRepetitionPlaysEveryFileOncePerCycle) {
    constexpr int files = 5, cycles = 12;
    for (unsigned seed : {1u, 7u, 42u, 2024u}) {
        SCOPED_TRACE(seed);
        start(files, 7, QString("s%1").arg(seed));
        form->Random.seed(seed);
        const QVector<int> picks = randomPicks(files * cycles);
        for (int c = 0; c < cycles; ++c) {
            QSet<int> cycle(picks.begin() + c * files, picks.begin() + (c + 1) * files);
            EXPECT_TRUE(cycle.size() == files && !cycle.contains(-1)) << "cycle " << c;
        }
        // The fifth pick emptied the pool; the next one starts a new cycle.
        EXPECT_TRUE(form->RandomPool.isEmpty());
        finish();
        EXPECT_EQ(form->RandomPool.size(), files - 1);
        EXPECT_FALSE(form->RandomPool.contains(lastIndex()));
        form.reset();
    }
}

TEST_F(TransportTest, RandomPickIsUniform) {
    start(4, 7);
    int counts[4] = {};
    for (unsigned seed = 0; seed < 400; ++seed) {
        form->Random.seed(seed);
        form->RandomPool = {0, 1, 2, 3};
        form->NoRepet();
        ASSERT_GE(lastIndex(), 0);
        ++counts[lastIndex()];
    }
    for (int c : counts)
        EXPECT_GT(c, 60);
}

TEST_F(TransportTest, PoolBuiltForALongerFolder) {
    start(12, 7);
    lecture();
    EXPECT_EQ(form->RandomPool.size(), 11);
    const QString shorter = makeNumberedFolder("short", 5);
    enter(shorter);
    EXPECT_EQ(form->RandomPool.size(), 11); // a folder change keeps the pool
    folder = shorter;

    // An index the new folder has is used as it comes.
    form->RandomPool = {3};
    finish();
    EXPECT_EQ(lastIndex(), 3);
    EXPECT_TRUE(form->RandomPool.isEmpty());

    // One past the end starts a new cycle of five, picked from at once.
    form->RandomPool = {10};
    finish();
    ASSERT_GE(lastIndex(), 0);
    EXPECT_LT(lastIndex(), 5);
    EXPECT_EQ(form->RandomPool.size(), 4);
    EXPECT_FALSE(form->RandomPool.contains(lastIndex()));
    for (int i : form->RandomPool)
        EXPECT_LT(i, 5);
}

TEST_F(TransportTest, StopDuringRandomPlayStartsANewCycle) {
    start(5, 7);
    lecture();
    finish();
    finish();
    EXPECT_EQ(form->RandomPool.size(), 2);
    const int current = lastIndex();
    form->FlatBar1_Click(2);
    // Lecture replays the selected file; the pick after it starts a cycle.
    lecture();
    EXPECT_EQ(lastIndex(), current);
    EXPECT_TRUE(form->RandomPool.isEmpty());
    finish();
    EXPECT_EQ(form->RandomPool.size(), 4);
}

TEST_F(TransportTest, EmptyFolderOpensNothing) {
    setting("Intro", "Durée", "10");
    const QString music = makeNumberedFolder("music", 2);
    const QString empty = makeFolder("empty", {});
    for (int mode : {0, 12, 7, 77}) {
        SCOPED_TRACE(mode);
        load();
        enter(empty);
        form->PlayMode = mode;
        lecture();
        EXPECT_TRUE(media->opened.isEmpty());
        // A track that ends after the user went to an empty folder.
        enter(music);
        pick(0);
        media->completeOpen(180);
        enter(empty);
        media->reachEnd();
        EXPECT_EQ(media->opened.size(), 1);
        form.reset();
    }
}

TEST_F(TransportTest, ProgrammeWrapsOnItsOwnLength) {
    const QString other = makeNumberedFolder("other", 3);
    // A programme longer, then shorter, than the folder shown.
    for (int folderSize : {1, 5}) {
        SCOPED_TRACE(folderSize);
        start(folderSize, 9, QString("f%1").arg(folderSize));
        // Empty, the programme opens the editor and plays nothing; a second
        // Lecture keeps the editor shown.
        lecture();
        lecture();
        EXPECT_EQ(form->Height(), 6495);
        EXPECT_EQ(form->height(), 433);
        EXPECT_TRUE(media->opened.isEmpty());
        const int entries = folderSize == 1 ? 3 : 2;
        for (int i = 0; i < entries; ++i) {
            form->List3->addItem(QString("track%1.mp3").arg(i, 5, 10, QChar('0')));
            form->List4->addItem(other + "/");
        }
        form->File1->setListIndex(folderSize - 1); // ignored in this mode
        lecture();
        folder = other;
        EXPECT_EQ(lastIndex(), 0);
        EXPECT_EQ(form->TrackIndex, 0);
        EXPECT_EQ(form->List3->currentRow(), 0);
        for (int step = 1; step <= entries; ++step) {
            finish();
            EXPECT_EQ(lastIndex(), step % entries);
            EXPECT_EQ(form->List3->currentRow(), step % entries);
        }
        EXPECT_EQ(media->opened.size(), entries + 1);
        // A pick in the file list plays that file, and the mode stays.
        pick(0);
        EXPECT_EQ(media->opened.last(), form->CurrentFolder + "/track00000.mp3");
        EXPECT_EQ(form->PlayMode, 9);
        form.reset();
    }
}

TEST_F(TransportTest, StartAndNextWhenStoppedMoveTheSelectionOnly) {
    start(3, 0);
    for (int expected : {0, 1, 2, 2}) {
        form->FlatBar1_Click(4);
        EXPECT_EQ(form->TrackIndex, expected);
        EXPECT_EQ(form->File1->ListIndex(), expected);
    }
    for (int expected : {1, 0, 0}) {
        form->FlatBar1_Click(3);
        EXPECT_EQ(form->TrackIndex, expected);
        EXPECT_EQ(form->File1->ListIndex(), expected);
    }
    // Pause while stopped does nothing either.
    form->FlatBar1_Click(1);
    EXPECT_TRUE(media->log.isEmpty());
    EXPECT_FALSE(form->Timer2->isActive());
    // The next Lecture plays the selected file.
    form->FlatBar1_Click(4);
    lecture();
    EXPECT_EQ(lastIndex(), 1);
}

TEST_F(TransportTest, StartAndNextWhilePlaying) {
    start(3, 0);
    pick(1);
    media->completeOpen(180);
    media->setPosition(50);
    form->FlatBar1_Click(3);
    EXPECT_EQ(media->CurrentPosition(), 0);
    EXPECT_EQ(media->CurrentState(), 2);
    EXPECT_EQ(media->opened.size(), 1);

    // Paused, the restart stays paused and the time display follows.
    media->setPosition(50);
    form->FlatBar1_Click(1);
    form->FlatBar1_Click(3);
    EXPECT_EQ(media->CurrentState(), 1);
    EXPECT_TRUE(form->Label2->text().startsWith("Tunabel - Ecoulé 0'00 - Restant 3'00 - Total 3'00"));

    // Next: the media stops and the stopped rule of the mode moves on.
    form->Fade->setChecked(true);
    media->volumeWrites.clear();
    form->FlatBar1_Click(4);
    EXPECT_EQ(media->volumeWrites.size(), 201);
    EXPECT_TRUE(media->log.contains("stop"));
    EXPECT_EQ(lastIndex(), 2);
    EXPECT_EQ(form->TrackIndex, 2);
    // Without "Lecture continue" next only stops.
    form->Fade->setChecked(false);
    form->LectCont->setChecked(false);
    media->completeOpen(180);
    form->FlatBar1_Click(4);
    EXPECT_EQ(media->CurrentState(), 0);
    EXPECT_EQ(media->opened.size(), 2);
}

TEST_F(TransportTest, PauseAndResumeWithFade) {
    start(2, 0);
    form->Fade->setChecked(true);
    pick(0);
    media->completeOpen(180);
    const QString title = form->LastCaption;
    media->volumeWrites.clear();
    form->FlatBar1_Click(1);
    EXPECT_EQ(media->CurrentState(), 1);
    EXPECT_TRUE(form->PauseFaded);
    EXPECT_EQ(media->volumeWrites.size(), 201);
    EXPECT_EQ(form->Label2->text(), title + " < Pause >");
    EXPECT_TRUE(form->Timer2->isActive());

    // Resume: the sound fades back in, the suffix and the blink go.
    media->volumeWrites.clear();
    form->FlatBar1_Click(1);
    EXPECT_EQ(media->CurrentState(), 2);
    EXPECT_FALSE(form->PauseFaded);
    EXPECT_EQ(form->Label2->text(), title);
    EXPECT_FALSE(form->Timer2->isActive());
    EXPECT_EQ(media->volumeWrites.mid(media->volumeWrites.indexOf(-4000)).size(), 801); // the fade-in
    EXPECT_EQ(media->opened.size(), 1);

    // Any state change ends the blink too.
    form->FlatBar1_Click(1);
    ASSERT_TRUE(form->Label2->text().endsWith(" < Pause >"));
    form->FlatBar1_Click(2);
    EXPECT_EQ(form->Label2->text(), "Tunabel - Arrêt");
    EXPECT_FALSE(form->Timer2->isActive());
}

TEST_F(TransportTest, LectureWhileMutedEndsUnmuted) {
    start(2, 0);
    form->VScroll1->setValue(10);
    form->FlatBar6_Click(0);
    ASSERT_TRUE(form->Muted);
    EXPECT_EQ(media->Volume(), -7000);
    EXPECT_FALSE(form->VScroll1->isEnabled());
    lecture();
    EXPECT_FALSE(form->Muted);
    EXPECT_TRUE(form->VScroll1->isEnabled());
    EXPECT_EQ(media->Volume(), -500);
    media->completeOpen(180);
    EXPECT_EQ(media->Volume(), -500);
}

TEST_F(TransportTest, ModeButtons) {
    start(3, 0);
    pick(1);
    media->completeOpen(180);
    form->FlatBar1_Click(11);
    EXPECT_EQ(media->PlayCount(), 10000);
    EXPECT_EQ(form->PlayMode, 0);
    form->FlatBar1_Click(7);
    EXPECT_EQ(media->PlayCount(), 1);

    form->Randloo->setChecked(true);
    form->FlatBar1_Click(8);
    EXPECT_EQ(form->PlayMode, 77);
    form->Randloo->setChecked(false);
    form->FlatBar1_Click(8);
    EXPECT_EQ(form->PlayMode, 7);
    form->FlatBar1_Click(9);
    EXPECT_EQ(form->PlayMode, 12);

    // The programme button from random mode re-reads the folder.
    form->PlayMode = 7;
    form->TrackIndex = 1;
    form->FlatBar1_Click(10);
    EXPECT_EQ(form->PlayMode, 9);
    EXPECT_EQ(form->TrackIndex, -1);
    EXPECT_EQ(form->Height(), 6495);
    EXPECT_EQ(form->FlatBar1->pressedButton(), 10);
    EXPECT_EQ(form->List2->count(), 3);
    form->FlatBar1_Click(7);
    EXPECT_EQ(form->Height(), 3765);
    EXPECT_EQ(form->PlayMode, 0);
    form->TrackIndex = 1;
    form->FlatBar1_Click(10);
    EXPECT_EQ(form->TrackIndex, 1);
    form->FlatBar1_Click(8);
    EXPECT_EQ(form->Height(), 3765);

    // None of them touched the loaded file or its playing.
    EXPECT_EQ(media->opened.size(), 1);
    EXPECT_EQ(media->CurrentState(), 2);
}

TEST_F(TransportTest, NomGivesTheNameWithoutFolderAndExtension) {
    EXPECT_EQ(Form1::Nom("/Musique/titre.mp3"), "titre");
    EXPECT_EQ(Form1::Nom("/a.b/c.d.mp3"), "c.d");
    EXPECT_EQ(Form1::Nom("titre.mp3"), "titre");
    EXPECT_EQ(Form1::Nom("titre"), "titre");
    EXPECT_EQ(Form1::Nom("/a.b/titre"), "titre");
    EXPECT_EQ(Form1::Nom(".cache"), ".cache");
    EXPECT_EQ(Form1::Nom("/x/.cache"), ".cache");
    EXPECT_EQ(Form1::Nom("/x/chanson."), "chanson");
    EXPECT_EQ(Form1::Nom(""), "");
}
