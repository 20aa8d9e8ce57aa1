// Files and play-lists handed over by the desktop or another start.
#include "storage/playlist.h"
#include "support/playerfixture.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QTest>

#include <sys/stat.h>

class ShellTest : public PlayerTest {
protected:
    static QString wrap(const QString &path) { return "[" + path + "]"; }
    void execute(const QString &request) {
        QString s = request;
        int cancel = 0;
        form->Form_LinkExecute(s, cancel);
    }
};

TEST_F(ShellTest, SoundFileIsSelectedInItsFolderAndPlayedByItsExactName) {
    const QString other = makeNumberedFolder("other", 2);
    const QString music = makeFolder("Musique", {"avant.mp3", "liste.mp3", "titre.mp3", "titre.wav"});
    ASSERT_TRUE(writeFile(music + "/liste.TNL", "x.mp3\r\n\r\n/x/\r\n\r\n"));
    start(other);
    pick(0);
    media->completeOpen(60);
    media->log.clear();
    execute(wrap(music + "/titre.wav"));
    EXPECT_EQ(media->log, QStringList({"close", "open " + music + "/titre.wav"}));
    EXPECT_EQ(form->Dir1->Path(), music);
    EXPECT_EQ(form->File1->FileName(), "titre.wav");
    EXPECT_EQ(form->TrackIndex, 3);
    EXPECT_FALSE(form->isWindowEnabled()); // until the open completes
    media->completeOpen(30);
    EXPECT_TRUE(form->isWindowEnabled());
    EXPECT_EQ(media->CurrentState(), 2);

    // Upper-case TNL is a sound file: the name match finds liste.mp3.
    execute(wrap(music + "/liste.TNL"));
    EXPECT_EQ(media->opened.last(), music + "/liste.mp3");
    EXPECT_EQ(form->PlayMode, 0);
    EXPECT_EQ(form->List3->count(), 0);
}

TEST_F(ShellTest, PlayListBecomesTheProgrammeAndPlays) {
    const QString a = makeFolder("a", {"un.mp3"});
    const QString b = makeFolder("b", {"deux.wav"});
    const QString lists = makeFolder("lists", {});
    ASSERT_TRUE(writeFile(lists + "/liste.tnl",
                          ("un.mp3\r\ndeux.wav\r\n\r\n" + a + "/\r\n" + b + "/\r\n\r\n").toUtf8()));
    start(makeNumberedFolder("m", 2), 7);
    form->List3->addItems({"old.mp3"});
    form->List4->addItems({"/old/"});
    execute(wrap(lists + "/liste.tnl"));
    EXPECT_EQ(form->PlayMode, 9);
    EXPECT_EQ(form->FlatBar1->pressedButton(), 10);
    EXPECT_EQ(listTexts(form->List3), QStringList({"un.mp3", "deux.wav"}));
    EXPECT_EQ(listTexts(form->List4), QStringList({a + "/", b + "/"}));
    EXPECT_EQ(media->opened.last(), a + "/un.mp3");

    // The Open command's reading rule: without an empty line every line is a
    // name (tried by its bare name); a folder block alone leaves the names
    // empty, and TrackIndex tells whether a separator was met.
    const struct {
        QByteArray bytes;
        QStringList names, folders;
        int trackIndex;
        QString opened;
    } cases[] = {
        {"t001.mp3\r\nt000.mp3", {"t001.mp3", "t000.mp3"}, {}, 0, "t001.mp3"},
        {"\r\n/x/\r\n", {}, {"/x/"}, 1, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.bytes.toStdString());
        ASSERT_TRUE(writeFile(lists + "/noms.tnl", c.bytes));
        media->completeOpen(10);
        form->TrackIndex = 5;
        execute(wrap(lists + "/noms.tnl"));
        EXPECT_EQ(listTexts(form->List3), c.names);
        EXPECT_EQ(listTexts(form->List4), c.folders);
        EXPECT_EQ(form->TrackIndex, c.trackIndex);
        EXPECT_EQ(media->FileName(), c.opened);
    }
}

TEST_F(ShellTest, ListsOverTheEntryCapAreRefusedAndWhatCameBeforeStays) {
    const QString a = makeFolder("a", {"x.mp3", "y.mp3"});
    const QString lists = makeFolder("lists", {});
    // Filled to the cap by the first three requests; what follows is refused.
    const qsizetype full = kPlaylistMaxEntries - 3;
    ASSERT_TRUE(writeFile(lists + "/pleine.tnl",
                          QByteArray("n.mp3\n").repeated(full) + '\n' + QByteArray("/f/\n").repeated(full)));
    ASSERT_TRUE(writeFile(lists + "/petite.tnl", "m.mp3\n\n/f/\n"));
    ASSERT_TRUE(writeFile(lists + "/trop.tnl", QByteArray("n.mp3\n").repeated(kPlaylistMaxEntries + 1)));
    // Names only, then a file: the file keeps its own folder.
    ASSERT_TRUE(writeFile(lists + "/noms.tnl", "p.mp3\nq.mp3\n"));
    start(a, 0);

    // One list over the cap: refused by name, the programme kept.
    form->List3->addItem("garde.mp3");
    form->List4->addItem("/g/");
    execute(wrap(lists + "/trop.tnl"));
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains("« trop »")) << messages[0].toStdString();
    EXPECT_EQ(listTexts(form->List3), QStringList{"garde.mp3"});

    messages.clear();
    form->HandOver({wrap(lists + "/noms.tnl"), wrap(a + "/x.mp3"), wrap(lists + "/pleine.tnl"),
                    wrap(lists + "/petite.tnl"), wrap(a + "/y.mp3")});
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains("petite.tnl") && messages[0].contains("y.mp3") &&
                !messages[0].contains("pleine"))
        << messages[0].toStdString();
    ASSERT_EQ(form->List3->count(), kPlaylistMaxEntries);
    EXPECT_EQ(form->ProgrammePath(1), "q.mp3");
    EXPECT_EQ(form->ProgrammePath(2), a + "/x.mp3");
    EXPECT_EQ(form->ProgrammePath(3), "/f/n.mp3");
    EXPECT_EQ(form->ProgrammePath(kPlaylistMaxEntries - 1), "/f/n.mp3");
    EXPECT_EQ(media->opened.last(), "p.mp3");
}

TEST_F(ShellTest, BadRequestsAndUnreadablePlayListsChangeNothingButSaySo) {
    const QString dir = makeFolder("d", {"a.mp3"});
    ASSERT_EQ(mkfifo(QFile::encodeName(dir + "/pipe.tnl").constData(), 0600), 0);
    QDir().mkpath(dir + "/folder.tnl");
    start(dir, 0);
    form->List3->addItems({"keep.mp3"});
    form->List4->addItems({"/k/"});
    const int height = form->Height();
    pick(0);
    media->completeOpen(60);
    const QStringList log = media->log;
    // A pipe must not hang the player.
    for (const QString &request :
         {QString(), QString("["), wrap(""), wrap(dir + "/absent.mp3"), wrap("relative.mp3"),
          QString("[") + QChar(0xF7FF) + "]", wrap(dir + "/pipe.tnl"), wrap(dir + "/folder.tnl")}) {
        SCOPED_TRACE(request.toStdString());
        messages.clear();
        execute(request);
        EXPECT_EQ(messages.size(), 1);
        EXPECT_EQ(form->PlayMode, 0);
        EXPECT_EQ(form->Height(), height);
        EXPECT_EQ(listTexts(form->List3), QStringList{"keep.mp3"});
    }
    EXPECT_EQ(media->log, log); // still playing
    EXPECT_TRUE(form->isWindowEnabled());
}

TEST_F(ShellTest, WindowIsGivenBackWhenNothingOpens) {
    const QString dir = makeFolder("d", {"a.mp3"});
    const QString empty = makeFolder("vide", {"notes.txt"});
    start(dir, 9); // programme mode, empty programme
    execute(wrap(dir + "/a.mp3"));
    EXPECT_TRUE(media->opened.isEmpty());
    EXPECT_TRUE(form->isWindowEnabled());
    EXPECT_EQ(form->Height(), 6495); // Lecture opened the editor instead

    form->PlayMode = 0;
    execute(wrap(empty + "/notes.txt"));
    EXPECT_EQ(form->Dir1->Path(), empty);
    EXPECT_TRUE(media->opened.isEmpty());
    EXPECT_TRUE(form->isWindowEnabled());

    // A pick still opening, then an empty play-list: its Stop cancels the
    // open that was to give the window back.
    enter(dir);
    pick(0);
    ASSERT_FALSE(form->isWindowEnabled());
    ASSERT_TRUE(writeFile(empty + "/vide.tnl", ""));
    execute(wrap(empty + "/vide.tnl"));
    EXPECT_EQ(media->FileName(), "");
    EXPECT_TRUE(form->isWindowEnabled());
}

TEST_F(ShellTest, SeveralFilesBecomeTheProgrammeInOrder) {
    const QString a = makeFolder("a", {"z.mp3", "b.mp3"});
    start(makeNumberedFolder("m", 2), 0);
    form->HandOver({wrap(a + "/z.mp3"), wrap(a + "/missing.mp3"), wrap(a + "/b.mp3")});
    EXPECT_EQ(messages.size(), 1); // the missing one is named, the others play
    EXPECT_EQ(form->PlayMode, 9);
    EXPECT_EQ(listTexts(form->List3), QStringList({"z.mp3", "b.mp3"}));
    EXPECT_EQ(listTexts(form->List4), QStringList({a + "/", a + "/"}));
    EXPECT_EQ(media->opened.last(), a + "/z.mp3");
    media->completeOpen(1);
    media->reachEnd();
    EXPECT_EQ(media->opened.last(), a + "/b.mp3");
}

TEST_F(ShellTest, HandOverWaitsForAnOpenBoxThenActs) {
    const QString dir = makeFolder("d", {"a.mp3"});
    start(dir, 0);
    // A start without files only brings the window back.
    form->ReduceToTray();
    form->HandOver({});
    EXPECT_TRUE(form->isVisible());
    EXPECT_TRUE(media->log.isEmpty());

    form->ReduceToTray();
    QDialog box;
    box.setModal(true);
    box.show();
    ASSERT_EQ(QApplication::activeModalWidget(), &box);
    form->HandOver({wrap(dir + "/a.mp3")});
    EXPECT_TRUE(form->isVisible()); // raised so the box is seen
    QTest::qWait(250);
    EXPECT_TRUE(media->opened.isEmpty());
    EXPECT_EQ(form->PendingHandOvers(), 1);
    box.accept();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !media->opened.isEmpty(); }, 30000));
    EXPECT_EQ(media->opened, QStringList({dir + "/a.mp3"}));
    EXPECT_EQ(form->PendingHandOvers(), 0);
}
