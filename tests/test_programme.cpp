// The programme editor, saving and opening play-lists through the manager,
// and the manager's own commands.
#include "platform/window.h"
#include "storage/playlist.h"
#include "support/playerfixture.h"
#include "windows/form5.h"

#include <QDialog>
#include <QDir>
#include <QFile>
#include <QTest>

namespace {

class ProgrammeTest : public PlayerTest {
protected:
    void SetUp() override {
        PlayerTest::SetUp();
        lists = tmp.path() + "/lists";
        SetPlaylistFolder(lists);
    }
    void TearDown() override {
        PlayerTest::TearDown();
        SetPlaylistFolder(QString());
    }
    // Runs `act` inside the manager's modal loop, opened by the button or the menu.
    void withManager(const std::function<void(Form5 *)> &act, bool viaMenu = false) {
        bool ran = false;
        duringModal([&](QWidget *modal) {
            ran = true;
            ASSERT_TRUE(App::form5 && modal == App::form5);
            act(App::form5);
        });
        viaMenu ? form->OpenProg->trigger() : form->FlatBar8_Click(0);
        EXPECT_TRUE(ran);
    }
    static void choose(Form5 *f, const QString &name) {
        const auto found = f->List1->findItems(name, Qt::MatchExactly);
        ASSERT_EQ(found.size(), 1) << name.toStdString();
        f->List1->setCurrentItem(found[0]);
    }
    void save(const QString &name) {
        inputAnswers << name;
        form->FlatBar7_Click(0);
    }
    void writeLists(std::initializer_list<const char *> names) {
        QDir().mkpath(lists);
        for (const char *n : names)
            ASSERT_TRUE(WritePlaylist(PlaylistPath(n), {QString(n) + ".mp3"}, {"/m/"}, nullptr));
    }
    QString lists;
};

} // namespace

TEST_F(ProgrammeTest, EditorCommandsKeepBothListsTogether) {
    const QString a = makeFolder("a", {"x.mp3", "y.wav", "z.mid"});
    const QString b = makeFolder("b", {"q.mp3", "r.mp3"});
    start(a);
    form->EditProg_Click();

    // Nothing selected adds nothing; the selection is added in list order and
    // stays selected, so adding again gives duplicates.
    form->FlatBar2_Click(0);
    EXPECT_EQ(form->List3->count(), 0);
    form->List2->item(2)->setSelected(true);
    form->List2->item(0)->setSelected(true);
    QTest::mouseClick(form->FlatBar2->button(0), Qt::LeftButton);
    form->List2_DblClick();
    enter(b);
    QTest::mouseClick(form->FlatBar5->button(0), Qt::LeftButton);
    EXPECT_EQ(listTexts(form->List3), QStringList({"x.mp3", "z.mid", "x.mp3", "z.mid", "q.mp3", "r.mp3"}));
    EXPECT_EQ(listTexts(form->List4), QStringList({a + "/", a + "/", a + "/", a + "/", b + "/", b + "/"}));

    // Remove: nothing without a current entry, and none is current after one.
    form->FlatBar4_Click(0);
    form->List3->setCurrentRow(1);
    QTest::mouseClick(form->FlatBar4->button(0), Qt::LeftButton);
    form->FlatBar4_Click(0);
    EXPECT_EQ(listTexts(form->List3), QStringList({"x.mp3", "x.mp3", "z.mid", "q.mp3", "r.mp3"}));
    EXPECT_EQ(listTexts(form->List4), QStringList({a + "/", a + "/", a + "/", b + "/", b + "/"}));

    // "&Lire" follows the programme's size; clearing empties both lists.
    emit form->Prog->aboutToShow();
    EXPECT_TRUE(form->LireProg->isEnabled());
    QTest::mouseClick(form->FlatBar3->button(0), Qt::LeftButton);
    EXPECT_EQ(form->List3->count() + form->List4->count(), 0);
    emit form->Prog->aboutToShow();
    EXPECT_FALSE(form->LireProg->isEnabled());

    // At the root the path has one slash.
    form->CurrentFolder = QString();
    form->List2->item(0)->setSelected(true);
    form->FlatBar2_Click(0);
    EXPECT_EQ(form->ProgrammePath(0), "/q.mp3");
    EXPECT_EQ(form->ProgrammePath(1) + form->ProgrammePath(-1), QString());
}

TEST_F(ProgrammeTest, SaveRefusalsThenSaveAndOpenThroughTheManager) {
    const QString a = makeFolder("a", {"un.mp3", "deux.mp3"});
    const QString b = makeFolder("b", {"trois.mp3"});
    start(a, 9);
    form->EditProg_Click();
    form->FlatBar7_Click(0);
    EXPECT_EQ(messages, QStringList({"Vous devez d'abord créer une liste !"}));
    EXPECT_TRUE(prompts.isEmpty());
    form->FlatBar5_Click(0);
    enter(b);
    form->FlatBar5_Click(0);
    const QStringList names{"deux.mp3", "un.mp3", "trois.mp3"}, folders{a + "/", a + "/", b + "/"};
    ASSERT_EQ(listTexts(form->List3), names);
    ASSERT_EQ(listTexts(form->List4), folders);

    // Cancelled: nothing said. Names that would leave the folder or cannot
    // be a file name: refused. Nothing written either way.
    for (const QString &bad : {QString(), QString("   "), QString(".cachée"), QString("../dehors"),
                               QString(".."), QString(300, 'n')}) {
        messages.clear();
        save(bad);
        EXPECT_EQ(messages.size(), bad.isEmpty() ? 0 : 1) << bad.toStdString();
    }
    EXPECT_FALSE(QDir(lists).exists());
    EXPECT_FALSE(QFile::exists(tmp.path() + "/dehors.tnl"));

    // The first good save makes the folder.
    const QString name = "Soirée « d'été » \"n°1\"  中文";
    messages.clear();
    prompts.clear();
    save(name);
    EXPECT_EQ(prompts, QStringList({"Donnez un nom à cette liste"}));
    EXPECT_TRUE(messages.isEmpty()) << messages.join("|").toStdString();
    QStringList readNames, readFolders;
    ASSERT_TRUE(ReadPlaylist(PlaylistPath(name), readNames, readFolders, nullptr));
    EXPECT_EQ(readNames, names);
    EXPECT_EQ(readFolders, folders);

    // The save loaded the manager; saving again does not list the name twice.
    ASSERT_TRUE(App::form5 && App::form5->isLoaded());
    save(name);
    EXPECT_EQ(App::form5->List1->findItems(name, Qt::MatchExactly).size(), 1);

    // Opened through the menu: the programme comes back without moving the
    // folder's track or playing, and the transport is enabled.
    form->FlatBar3_Click(0);
    form->TrackIndex = 1;
    for (int i = 0; i <= 4; ++i)
        form->FlatBar1->DisableButton(i);
    withManager(
        [&](Form5 *f) {
            choose(f, name);
            f->List1_DblClick();
        },
        true);
    EXPECT_EQ(listTexts(form->List3), names);
    EXPECT_EQ(listTexts(form->List4), folders);
    EXPECT_EQ(form->TrackIndex, 1);
    EXPECT_TRUE(transport(true));
    EXPECT_TRUE(media->opened.isEmpty());

    // "&Lire" plays from the first entry in programme mode.
    form->PlayMode = 0;
    form->LireProg->trigger();
    EXPECT_EQ(form->PlayMode, 9);
    EXPECT_EQ(form->FlatBar1->pressedButton(), 10);
    EXPECT_EQ(media->opened, QStringList({folders[0] + names[0]}));

    // A name holding a line break cannot be one line: refused, naming it,
    // the earlier file kept.
    const QByteArray before = fileBytes(PlaylistPath(name));
    form->List3->addItem("deux\nlignes.mp3");
    form->List4->addItem(a + "/");
    messages.clear();
    save(name);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains("deux lignes.mp3") && messages[0].contains(name))
        << messages[0].toStdString();
    EXPECT_EQ(fileBytes(PlaylistPath(name)), before);
}

TEST_F(ProgrammeTest, ManagerChoosesOnlyByItsOwnCommandsAndKeepsTheTopOrder) {
    writeLists({"alpha", "beta"});
    start(makeFolder("a", {"x.mp3"}));
    const QStringList keep({"garde.mp3"});
    // Each way out, with "beta" selected first or not (the double click is
    // in the save test).
    const struct {
        const char *what;
        bool select;
        std::function<void(Form5 *)> act;
        bool chosen;
    } cases[] = {
        {"open item", true, [](Form5 *f) { f->Ouvrir->trigger(); }, true},
        {"close item, a list selected", true, [](Form5 *f) { f->Fermer->trigger(); }, true},
        {"double click, nothing selected", false,
         [](Form5 *f) {
             f->List1_DblClick(); // does not hide: the close item then cancels
             EXPECT_TRUE(f->isVisible());
             f->Fermer->trigger();
         },
         false},
        {"Esc", true, [](Form5 *f) { QTest::keyClick(f->List1, Qt::Key_Escape); }, false},
        {"close box", true, [](Form5 *f) { f->close(); }, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        form->List3->clear();
        form->List4->clear();
        form->List3->addItems(keep);
        form->List4->addItem("/g/");
        if (App::form5)
            App::form5->Unload();
        withManager([&c](Form5 *f) {
            if (c.select)
                choose(f, "beta");
            c.act(f);
        });
        EXPECT_EQ(listTexts(form->List3), c.chosen ? QStringList({"beta.mp3"}) : keep);
        EXPECT_FALSE(App::form5->isVisible());
    }

    // While up, the manager holds the top place; a manager only hidden keeps
    // its current entry and the top place, one closed gives it back and lists
    // the folder afresh.
    form->OnTop_Click();
    ASSERT_TRUE(IsTopMost(form.get()));
    withManager([this](Form5 *f) {
        f->Form_Activate();
        QCoreApplication::processEvents();
        EXPECT_FALSE(IsTopMost(form.get()));
        EXPECT_TRUE(IsTopMost(f));
        choose(f, "alpha");
        f->Fermer_Click();
    });
    EXPECT_FALSE(IsTopMost(form.get()));
    writeLists({"gamma"});
    withManager([](Form5 *f) {
        EXPECT_EQ(f->Text(), "alpha");
        EXPECT_EQ(f->List1->count(), 2);
        f->close();
    });
    EXPECT_FALSE(App::form5->isLoaded());
    EXPECT_TRUE(IsTopMost(form.get()));
    withManager([](Form5 *f) {
        EXPECT_EQ(listTexts(f->List1), QStringList({"alpha", "beta", "gamma"}));
        EXPECT_EQ(f->Text(), QString());
        // The edition items need a selected list; closing is always there.
        emit f->Liste->aboutToShow();
        EXPECT_FALSE(f->Ouvrir->isEnabled() || f->Renomme->isEnabled() || f->Effacer->isEnabled());
        EXPECT_TRUE(f->Fermer->isEnabled());
        choose(f, "gamma");
        emit f->Liste->aboutToShow();
        EXPECT_TRUE(f->Ouvrir->isEnabled() && f->Renomme->isEnabled() && f->Effacer->isEnabled());
        f->Fermer_Click();
    });
    EXPECT_EQ(listTexts(form->List3), QStringList({"gamma.mp3"}));
}

TEST_F(ProgrammeTest, RenameAndDeleteChangeTheListOnlyWhenTheFileDid) {
    writeLists({"a", "b", "c"});
    start(makeFolder("f", {"x.mp3"}));
    form->List3->addItem("garde.mp3");
    form->List4->addItem("/g/");
    withManager([&](Form5 *f) {
        // Renamed in place, even if the new name sorts elsewhere.
        choose(f, "a");
        inputAnswers << "zèbre";
        f->Renomme->trigger();
        EXPECT_EQ(prompts.last(), "Renommer \"a\" en :");
        EXPECT_EQ(listTexts(f->List1), QStringList({"zèbre", "b", "c"}));
        EXPECT_TRUE(QFile::exists(PlaylistPath("zèbre")));
        EXPECT_FALSE(QFile::exists(PlaylistPath("a")));
        // Cancelled, onto another list, or with a bad name: nothing changes.
        for (const QString &answer :
             {QString(), QString("c"), QString("x/y"), QString("  "), QString(".b")}) {
            choose(f, "b");
            inputAnswers << answer;
            messages.clear();
            f->Renomme_Click();
            EXPECT_EQ(messages.size(), answer.isEmpty() ? 0 : 1) << answer.toStdString();
        }
        EXPECT_EQ(listTexts(f->List1), QStringList({"zèbre", "b", "c"}));
        EXPECT_EQ(fileBytes(PlaylistPath("c")), QByteArray("c.mp3\r\n\r\n/m/\r\n\r\n"));

        // Delete: at once, then nothing is current, so a second delete does nothing.
        messages.clear();
        choose(f, "b");
        f->Effacer->trigger();
        f->Effacer_Click();
        EXPECT_EQ(listTexts(f->List1), QStringList({"zèbre", "c"}));
        EXPECT_FALSE(QFile::exists(PlaylistPath("b")));
        EXPECT_TRUE(QFile::exists(PlaylistPath("c")));
        EXPECT_TRUE(messages.isEmpty());

        // A file that vanished since the listing is reported by each command;
        // the entry stays and opening it keeps the programme.
        QFile::remove(PlaylistPath("c"));
        choose(f, "c");
        f->Effacer_Click();
        choose(f, "c");
        inputAnswers << "d";
        f->Renomme_Click();
        EXPECT_EQ(listTexts(f->List1), QStringList({"zèbre", "c"}));
        choose(f, "c");
        f->Ouvrir_Click();
    });
    EXPECT_EQ(listTexts(form->List3), QStringList({"garde.mp3"}));
    EXPECT_EQ(messages.size(), 3);
}

TEST_F(ProgrammeTest, ListsWithoutFoldersAreSafe) {
    start(makeFolder("f", {"x.mp3"}));
    QDir().mkpath(lists);
    // A list without separator (written elsewhere): every line a name.
    // Playing it must not crash; an entry without folder fails like a missing file.
    // Opened through the manager, TrackIndex tells no separator was met.
    ASSERT_TRUE(writeFile(PlaylistPath("sans"), "p.mp3\r\nq.mp3\r\n"));
    form->TrackIndex = 1;
    withManager([](Form5 *f) {
        choose(f, "sans");
        f->Ouvrir_Click();
    });
    EXPECT_EQ(listTexts(form->List3), QStringList({"p.mp3", "q.mp3"}));
    EXPECT_EQ(form->List4->count(), 0);
    EXPECT_EQ(form->TrackIndex, 0);
    form->LireProg_Click();
    EXPECT_EQ(media->opened, QStringList({"p.mp3"}));
    media->fail("p.mp3 introuvable");
    EXPECT_EQ(messages.size(), 1);
    EXPECT_EQ(form->PlayMode, 9);

    // Folders for the first entry only: the second is still tried, by its bare name.
    form->List4->addItem(folder + "/");
    form->LireProg_Click();
    finish();
    EXPECT_EQ(media->opened.mid(1), QStringList({folder + "/p.mp3", "q.mp3"}));
}

TEST(BoxesTest, FixedDialogFramesAndTheSaveBoxShowsItsWholeTitle) {
    // The window's own boxes, not the test's answers.
    Form1 form(new FakeMediaControl);
    const auto check = [](QWidget *box) {
        const Qt::WindowFlags flags = box->windowFlags();
        EXPECT_TRUE(flags.testFlag(Qt::Dialog) && flags.testFlag(Qt::CustomizeWindowHint) &&
                    flags.testFlag(Qt::WindowTitleHint) && flags.testFlag(Qt::WindowCloseButtonHint));
        EXPECT_FALSE(flags.testFlag(Qt::WindowMinimizeButtonHint) ||
                     flags.testFlag(Qt::WindowMaximizeButtonHint));
    };
    int shown = 0;
    duringModal([&](QWidget *box) {
        ++shown;
        check(box);
        QFont bold = box->font();
        bold.setBold(true);
        EXPECT_EQ(box->windowTitle(), "Enregistrement de la liste");
        EXPECT_GT(box->width(), QFontMetrics(bold).horizontalAdvance(box->windowTitle()) + 100);
        static_cast<QDialog *>(box)->reject();
    });
    EXPECT_EQ(form.InputBox("Donnez un nom à cette liste", "Enregistrement de la liste", QString()),
              QString());
    duringModal([&](QWidget *box) {
        ++shown;
        check(box);
        static_cast<QDialog *>(box)->reject();
    });
    form.MsgBox("Vous devez d'abord créer une liste !", QMessageBox::Warning, QString(), QMessageBox::Ok);
    EXPECT_EQ(shown, 2);
}
