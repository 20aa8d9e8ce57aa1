// The next track known ahead: what the player hands the media control must
// be exactly what its stopped rule then opens, in every mode.
#include "storage/playlist.h"
#include "support/playerfixture.h"
#include "windows/form4.h"
#include "windows/form5.h"
#include "windows/form6.h"

#include <QScrollBar>
#include <QSet>

#include <random>

namespace {

class GaplessTest : public PlayerTest {
protected:
    void SetUp() override {
        PlayerTest::SetUp();
        SetPlaylistFolder(tmp.path() + "/lists");
    }
    void TearDown() override {
        PlayerTest::TearDown();
        SetPlaylistFolder(QString());
    }
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

TEST_F(GaplessTest, NoGuessWhereTheRuleOpensNothing) {
    start(makeNumberedFolder("a", 3), 0);
    form->LectCont->setChecked(false);
    form->FlatBar1_Click(0);
    media->completeOpen(180);
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

// Whatever the user changes while a file plays, the next file the control
// holds is the one the stopped rule opens when the file ends there ("" when
// it opens none or the file plays again). Random walks over the changes;
// GAPLESS_SEEDS=n runs n seeds instead of twelve.
TEST_F(GaplessTest, TheHeldGuessFollowsEveryChangeOfTheRule) {
    const QString a = makeNumberedFolder("a", 5);
    const QString b = makeFolder("b", {"x.mp3", "y.wav", "z.mid"});
    const QString empty = makeFolder("vide", {});
    ASSERT_TRUE(MakePlaylistFolder(nullptr));
    ASSERT_TRUE(
        WritePlaylist(PlaylistPath("deux"), {"x.mp3", "track00003.mp3"}, {b + "/", a + "/"}, nullptr));
    ASSERT_TRUE(WritePlaylist(PlaylistPath("une"), {"y.wav"}, {b + "/"}, nullptr));
    setting("Intro", "Durée", "5");
    const QStringList anyFile{a + "/track00000.mp3", a + "/track00004.mp3", b + "/x.mp3", b + "/z.mid"};

    // The play-list manager, opened next, opens `name`.
    const auto chooseList = [](const QString &name) {
        duringModal([name](QWidget *) {
            App::form5->List1->setCurrentItem(App::form5->List1->findItems(name, Qt::MatchExactly)[0]);
            App::form5->Ouvrir->trigger();
        });
    };
    std::mt19937 rng;
    const auto below = [&rng](qsizetype n) { return int(rng() % quint32(n)); };
    const struct {
        const char *what;
        std::function<void()> act;
    } changes[] = {
        {"fin", [] {}},
        {"répétition", [&] { form->FlatBar1_Click(11); }},
        {"continue", [&] { form->FlatBar1_Click(7); }},
        {"aléatoire", [&] { form->FlatBar1_Click(8); }},
        {"introductions", [&] { form->FlatBar1_Click(9); }},
        {"programmation", [&] { form->FlatBar1_Click(10); }},
        {"Lecture continue", [&] { form->LectCont_Click(); }},
        {"Randloo", [&] { form->Randloo_Click(); }},
        {"ajout",
         [&] {
             if (form->List2->count() > 0)
                 form->List2->item(below(form->List2->count()))->setSelected(true);
             form->FlatBar2_Click(0);
         }},
        {"ajout de tout", [&] { form->FlatBar5_Click(0); }},
        {"retrait",
         [&] {
             if (form->List3->count() > 0)
                 form->List3->setCurrentRow(below(form->List3->count()));
             form->FlatBar4_Click(0);
         }},
        {"effacement", [&] { form->FlatBar3_Click(0); }},
        {"début", [&] { form->FlatBar1_Click(3); }},
        {"avance", [&] { form->FlatBar1_Click(4); }},
        {"choix",
         [&] {
             if (form->File1->ListCount() > 0)
                 pick(below(form->File1->ListCount()));
         }},
        {"liste",
         [&] {
             chooseList(below(2) ? "deux" : "une");
             form->FlatBar8_Click(0);
         }},
        {"liste de l'alarme",
         [&] {
             if (!App::form6)
                 form->Alarme_Click();
             chooseList(below(2) ? "deux" : "une");
             App::form6->FlatBar2_Click(0);
         }},
        {"remise",
         [&] {
             QStringList files;
             for (int n = 2 + below(2); n > 0; --n)
                 files << "[" + anyFile[below(anyFile.size())] + "]";
             form->HandOver(files);
         }},
        {"relecture", [&] { form->FlatBar9_Click(0); }},
        {"dossier",
         [&] {
             const QString to[] = {a, b, empty};
             enter(to[below(3)]);
         }},
        {"vitesse",
         [&] {
             if (!App::form4)
                 form->Speed_Click();
             App::form4->HScroll1->setValue(below(2) ? 100 : 50 + 50 * below(3));
         }},
        {"durée d'introduction",
         [&] {
             inputAnswers << (below(2) ? "5" : "500");
             form->Introdu_Click();
         }},
    };

    const int seeds =
        qEnvironmentVariableIsSet("GAPLESS_SEEDS") ? qEnvironmentVariableIntValue("GAPLESS_SEEDS") : 12;
    for (int seed = 1; seed <= seeds; ++seed) {
        rng.seed(seed);
        start(a, 0);
        form->Random.seed(seed);
        form->FlatBar1_Click(0);
        const auto play = [&] {
            settle();
            // A pending open completes; a file left at its end plays again.
            if (media->isOpening())
                media->completeOpen(below(2) ? 3 : 180);
            else if (media->CurrentState() != 2)
                form->FlatBar1_Click(0);
            settle();
        };
        play();
        for (int step = 0; step < 300; ++step) {
            const auto &change = changes[below(std::size(changes))];
            change.act();
            play();
            ASSERT_EQ(media->CurrentState(), 2) << "seed " << seed << ", step " << step;
            const QString held = media->nextFile;
            const qsizetype before = media->opened.size();
            media->reachEnd();
            const QString opened = media->opened.size() > before ? media->opened.last() : QString();
            ASSERT_EQ(held, opened) << "seed " << seed << ", step " << step << ", after: " << change.what;
            play();
        }
        form.reset();
    }
}
