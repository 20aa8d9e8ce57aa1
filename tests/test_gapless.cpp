// The next track known ahead: what the player hands the media control must
// be exactly what its stopped rule then opens, in every mode.
#include "support/playerfixture.h"

#include <QSet>

namespace {

class GaplessTest : public PlayerTest {
protected:
    // The next file the player offers now; "" when it offers none.
    QString guess() {
        media->nextFile = "stale";
        media->wantNext();
        return media->nextFile;
    }
};

} // namespace

TEST_F(GaplessTest, TheGuessIsWhatTheStoppedRuleThenOpensInEveryMode) {
    for (int mode : {0, 9, 7, 77}) {
        SCOPED_TRACE(mode);
        constexpr int files = 4;
        start(makeNumberedFolder(QString("m%1").arg(mode), files), mode);
        form->Random.seed(5);
        for (int i = 0; mode == 9 && i < 3; ++i) {
            form->List3->addItem(QString("track%1.mp3").arg(2 - i, 5, 10, QChar('0')));
            form->List4->addItem(folder + "/");
        }
        form->FlatBar1_Click(0);
        QSet<QString> cycle{media->opened.last()};
        for (int i = 0; i < 24; ++i) {
            const QString next = guess();
            finish();
            EXPECT_EQ(media->opened.last(), next) << i;
            // Drawing ahead keeps every random cycle without repetition.
            cycle << next;
            if (mode == 7 && form->RandomPool.isEmpty()) {
                EXPECT_EQ(cycle.size(), files);
                cycle.clear();
            }
        }
        // The programme goes round its own three entries, backwards here.
        EXPECT_TRUE(mode != 9 || lastIndex() == 2 - (24 % 3)) << lastIndex();
        form.reset();
    }
}

TEST_F(GaplessTest, NoGuessWhereTheRuleOpensNothingOrMustEndExactly) {
    start(makeNumberedFolder("a", 3), 0);
    form->LectCont->setChecked(false);
    form->FlatBar1_Click(0);
    media->completeOpen(180);
    EXPECT_EQ(guess(), "");
    setting("Intro", "Durée", "10");
    form->FlatBar1_Click(9);
    EXPECT_EQ(guess(), "");
    // An empty folder has no next file in any mode.
    enter(makeFolder("vide", {}));
    for (int mode : {0, 7, 77}) {
        form->PlayMode = mode;
        EXPECT_EQ(guess(), "") << mode;
    }
}

TEST_F(GaplessTest, ChangesAfterTheGuessAreFollowedByTheRule) {
    // A stop and a new Lecture between the guess and the end empty the
    // pool: the end starts a new cycle instead of using the old draw.
    start(makeNumberedFolder("r", 6), 7);
    form->FlatBar1_Click(0);
    finish();
    media->completeOpen(180);
    guess();
    ASSERT_EQ(form->RandomPool.size(), 4);
    form->FlatBar1_Click(2);
    form->FlatBar1_Click(0);
    finish();
    EXPECT_EQ(form->RandomPool.size(), 5);
    EXPECT_FALSE(form->RandomPool.contains(lastIndex()));

    // Continuous guess, then random mode chosen: the random rule runs.
    form->FlatBar1_Click(7);
    media->completeOpen(180);
    const QString continuous = guess();
    form->FlatBar1_Click(8);
    const qsizetype pool = form->RandomPool.size();
    media->reachEnd();
    EXPECT_EQ(form->RandomPool.size(), pool == 0 ? 5 : pool - 1);

    // A new folder after the guess: the next file comes from it.
    form->FlatBar1_Click(7);
    media->completeOpen(180);
    guess();
    const QString other = makeNumberedFolder("autre", 2);
    enter(other);
    media->reachEnd();
    EXPECT_TRUE(media->opened.last().startsWith(other + "/")) << media->opened.last().toStdString();
    EXPECT_FALSE(continuous.startsWith(other));
}
