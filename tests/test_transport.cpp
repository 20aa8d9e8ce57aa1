// The transport bar and the choice of the next track.
#include "support/playerfixture.h"

#include <QSet>
#include <QTest>

#include <algorithm>

namespace {
class TransportTest : public PlayerTest {
protected:
    void startNumbered(int count, int mode, const QString &name = "music") {
        start(makeNumberedFolder(name, count), mode);
    }
    void lecture() { form->FlatBar1_Click(0); }
};
} // namespace

TEST_F(TransportTest, EachModeMovesOnAtTheEndButNotAfterAUserStop) {
    setting("Intro", "Durée", "10");
    const QString empty = makeFolder("empty", {});
    for (int mode : {0, 12, 7, 77}) {
        SCOPED_TRACE(mode);
        const bool sequential = mode == 0 || mode == 12;
        startNumbered(3, mode, QString("m%1").arg(mode));
        lecture(); // nothing selected
        const int first = lastIndex();
        ASSERT_TRUE(sequential ? first == 0 : first >= 0 && first < 3) << first;
        finish();
        ASSERT_EQ(media->opened.size(), 2);
        const int second = lastIndex();
        EXPECT_EQ(form->File1->ListIndex(), second);
        ASSERT_TRUE(sequential ? second == 1 : second >= 0 && second < 3) << second;
        // In random modes the index of the track is not the file's.
        EXPECT_EQ(form->TrackIndex, sequential ? 1 : -1);
        if (mode == 7) { // the pool holds the one not played yet
            EXPECT_NE(second, first);
            EXPECT_EQ(form->RandomPool, QVector<int>({3 - first - second}));
        }
        media->completeOpen(180);
        form->FlatBar1_Click(2);
        EXPECT_EQ(media->opened.size(), 2);
        EXPECT_TRUE(media->FileName().isEmpty());
        EXPECT_EQ(form->PlayMode, mode);
        EXPECT_TRUE(form->RandomPool.isEmpty());
        EXPECT_EQ(form->TrayData.tipText(), "Tunabel - Arrêt");
        EXPECT_FALSE(media->isVisible());

        // Neither an end after a move to an empty folder nor a Lecture there opens anything.
        lecture();
        media->completeOpen(180);
        enter(empty);
        media->reachEnd();
        form->FlatBar1_Click(2);
        lecture();
        EXPECT_EQ(media->opened.size(), 3);
        form.reset();
    }
}

TEST_F(TransportTest, ContinuousWrapsFollowsTheOptionAndRandomReachesEveryFile) {
    startNumbered(3, 0);
    lecture();
    for (int expected : {1, 2, 0}) {
        finish();
        EXPECT_EQ(lastIndex(), expected);
        EXPECT_EQ(form->File1->ListIndex(), expected);
    }
    // Without "Lecture continue" an end starts nothing and keeps the display.
    form->LectCont->setChecked(false);
    media->completeOpen(180);
    const QString title = form->Label2->text();
    media->reachEnd();
    EXPECT_EQ(media->opened.size(), 4);
    EXPECT_EQ(form->Label2->text(), title);

    form->PlayMode = 77;
    form->Random.seed(11);
    QSet<int> seen;
    for (int i = 0; i < 40; ++i) {
        finish();
        ASSERT_GE(lastIndex(), 0);
        EXPECT_EQ(form->File1->ListIndex(), lastIndex());
        seen << lastIndex();
    }
    EXPECT_EQ(seen.size(), 3);
}

TEST_F(TransportTest, PoolBuiltForALongerFolder) {
    startNumbered(12, 7);
    lecture();
    EXPECT_EQ(form->RandomPool.size(), 11);
    folder = makeNumberedFolder("short", 5);
    enter(folder);
    EXPECT_EQ(form->RandomPool.size(), 11); // a folder change keeps the pool

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
    QVector<int> cycle = form->RandomPool;
    cycle << lastIndex();
    std::sort(cycle.begin(), cycle.end());
    EXPECT_EQ(cycle, QVector<int>({0, 1, 2, 3, 4}));
}

TEST_F(TransportTest, ProgrammeWrapsOnItsOwnLength) {
    const QString other = makeNumberedFolder("other", 3);
    // A programme longer, then shorter, than the folder shown.
    for (int folderSize : {1, 5}) {
        SCOPED_TRACE(folderSize);
        startNumbered(folderSize, 9, QString("f%1").arg(folderSize));
        form->LectCont->setChecked(false); // a programme plays on without it
        // Empty, it opens the editor (a second Lecture keeps it) and plays nothing.
        lecture();
        lecture();
        EXPECT_EQ(form->Height(), 6495);
        EXPECT_TRUE(media->opened.isEmpty());
        const int entries = folderSize == 1 ? 3 : 2;
        for (int i = 0; i < entries; ++i) {
            form->List3->addItem(QString("track%1.mp3").arg(i, 5, 10, QChar('0')));
            form->List4->addItem(other + "/");
        }
        form->File1->setListIndex(folderSize - 1); // ignored in this mode
        lecture();
        folder = other;
        for (int step = 0; step <= entries; ++step) {
            if (step > 0)
                finish();
            EXPECT_EQ(lastIndex(), step % entries);
            EXPECT_EQ(form->List3->currentRow(), step % entries);
        }
        // A pick in the file list plays that file, and the mode stays.
        pick(0);
        EXPECT_EQ(media->opened.last(), form->CurrentFolder + "/track00000.mp3");
        EXPECT_EQ(form->PlayMode, 9);
        form.reset();
    }
}

TEST_F(TransportTest, StartAndNextStoppedPausedAndPlaying) {
    startNumbered(3, 0);
    // Next stops at the last file, Start at the first.
    for (auto [button, expected] : {std::pair{4, 0}, {4, 1}, {4, 2}, {4, 2}, {3, 1}, {3, 0}, {3, 0}}) {
        form->FlatBar1_Click(button);
        EXPECT_EQ(form->TrackIndex, expected);
        EXPECT_EQ(form->File1->ListIndex(), expected);
    }
    form->FlatBar1_Click(1); // Pause while stopped does nothing either
    EXPECT_TRUE(media->log.isEmpty());
    EXPECT_FALSE(form->Timer2->isActive());
    // The next Lecture plays the selected file.
    form->FlatBar1_Click(4);
    lecture();
    EXPECT_EQ(lastIndex(), 1);

    // While playing, Start goes back to the beginning of the same file.
    media->completeOpen(180);
    media->setPosition(50);
    form->FlatBar1_Click(3);
    EXPECT_EQ(media->CurrentPosition(), 0);
    EXPECT_EQ(media->CurrentState(), 2);
    EXPECT_EQ(media->opened.size(), 1);

    // Paused, the restart stays paused.
    media->setPosition(50);
    form->FlatBar1_Click(1);
    form->FlatBar1_Click(3);
    EXPECT_EQ(media->CurrentState(), 1);
    EXPECT_EQ(media->CurrentPosition(), 0);

    // Next: the media stops (after a fade) and the stopped rule of the mode moves on.
    form->Fade->setChecked(true);
    media->volumeWrites.clear();
    form->FlatBar1_Click(4);
    EXPECT_TRUE(media->volumeWrites.isEmpty()); // paused: no fade of silence
    EXPECT_TRUE(media->log.contains("stop"));
    EXPECT_EQ(lastIndex(), 2);
    // Without "Lecture continue" next only stops.
    form->Fade->setChecked(false);
    form->LectCont->setChecked(false);
    media->completeOpen(180);
    form->FlatBar1_Click(4);
    EXPECT_EQ(media->CurrentState(), 0);
    EXPECT_EQ(media->opened.size(), 2);
}

TEST_F(TransportTest, MuteCutsTheSoundAndLectureOrPickTurnsItBackOn) {
    startNumbered(3, 0);
    form->VScroll1->setValue(10);
    // The bar is rebuilt at each toggle: its button is looked up every time.
    const auto toggle = [this] { QTest::mouseClick(form->FlatBar6->button(0), Qt::LeftButton); };
    for (bool byPick : {false, true}) {
        SCOPED_TRACE(byPick);
        toggle();
        ASSERT_TRUE(form->Muted);
        EXPECT_EQ(media->Volume(), -7000);
        EXPECT_FALSE(form->VScroll1->isEnabled());
        media->volumeWrites.clear();
        byPick ? pick(1) : lecture();
        EXPECT_FALSE(form->Muted);
        EXPECT_EQ(media->volumeWrites, QVector<int>({-500}));
        media->completeOpen(180);
        EXPECT_TRUE(form->VScroll1->isEnabled());
    }
    EXPECT_EQ(form->FlatBar6->buttonCount(), 1);

    // While playing, with and without fades.
    for (bool fade : {false, true}) {
        for (int slider : {10, 90}) { // 90: below the fades' floor of -4000
            SCOPED_TRACE(testing::Message() << "fade " << fade << " slider " << slider);
            form->Fade->setChecked(fade);
            form->VScroll1->setValue(slider);
            media->volumeWrites.clear();
            toggle();
            EXPECT_EQ(media->Volume(), -7000);
            EXPECT_EQ(form->FlatBar6->button(0)->toolTip(), "Rétablir le son");
            if (fade && slider == 10) {
                EXPECT_GT(media->volumeWrites.size(), 10); // a ramp, then the cut
            }
            toggle();
            EXPECT_FALSE(form->Muted);
            EXPECT_EQ(media->Volume(), -slider * 50);
            EXPECT_TRUE(form->VScroll1->isEnabled());
            EXPECT_EQ(form->FlatBar6->button(0)->toolTip(), "Couper le son");
        }
    }
    // The pick opened only the picked file, and the next follows it.
    EXPECT_EQ(media->opened, QStringList({folder + "/track00000.mp3", folder + "/track00001.mp3"}));
    media->reachEnd();
    EXPECT_EQ(lastIndex(), 2);
}

TEST_F(TransportTest, ModeButtonsChangeTheModeButNotThePlaying) {
    startNumbered(3, 0);
    pick(1);
    media->completeOpen(180);
    form->FlatBar1_Click(11);
    EXPECT_EQ(media->PlayCount(), 10000);
    // Each mode plays once; only the programme shows the editor (re-reading the folder after random).
    const std::tuple<bool, int, int, int> steps[] = {{false, 7, 0, 1},  {true, 8, 77, 1},
                                                     {false, 8, 7, 1},  {false, 10, 9, -1},
                                                     {false, 9, 12, 1}, {false, 10, 9, 1}};
    for (auto [randloo, button, mode, track] : steps) {
        SCOPED_TRACE(button);
        form->Randloo->setChecked(randloo);
        form->TrackIndex = 1;
        form->FlatBar1_Click(button);
        EXPECT_EQ(form->PlayMode, mode);
        EXPECT_EQ(form->TrackIndex, track);
        EXPECT_EQ(media->PlayCount(), 1);
        EXPECT_EQ(form->Height(), mode == 9 ? 6495 : 3765);
    }
    EXPECT_EQ(media->opened.size(), 1);
    EXPECT_EQ(media->CurrentState(), 2);
}
