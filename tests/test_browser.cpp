// The folder browser: folder changes, picks in the file list, refresh.
#include "support/playerfixture.h"

#include "platform/filename.h"
#include "platform/settingsstore.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QStyledItemDelegate>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using BrowserTest = PlayerTest;

TEST_F(BrowserTest, TransportButtonsFollowTheFileList) {
    const QString a = makeNumberedFolder("a", 3), b = makeNumberedFolder("b", 2);
    const QString e1 = makeFolder("e1", {"cover.jpg", "notes.txt"}), e2 = makeFolder("e2", {});
    // Restored with no playable file: only the mode buttons stay usable.
    setting("Session", "Path", e1);
    load()->PlayMode = 0;
    EXPECT_EQ(form->Dir1->Path(), e1);
    EXPECT_TRUE(transport(false));
    EXPECT_TRUE(form->FlatBar1->isButtonEnabled(7) && form->FlatBar1->isButtonEnabled(11));
    enter(a);
    EXPECT_TRUE(transport(true));
    EXPECT_EQ(form->CurrentFolder, a);

    // A playing track and the current folder survive empty folders.
    pick(2);
    media->completeOpen(60);
    for (const QString &empty : {e1, e2}) {
        enter(empty);
        EXPECT_TRUE(transport(false));
        EXPECT_EQ(form->CurrentFolder, a);
        EXPECT_EQ(form->TrackIndex, 2);
        EXPECT_EQ(media->CurrentState(), 2);
    }
    enter(b);
    EXPECT_TRUE(transport(true));
    EXPECT_EQ(form->CurrentFolder, b);
    EXPECT_EQ(form->TrackIndex, -1);
    EXPECT_EQ(media->FileName(), a + "/track00002.mp3");
}

// Every open goes through TrackPath: at the root it must not give "//".
// Nothing is written there, even by root.
TEST_F(BrowserTest, RootFolderGivesAnEmptyCurrentFolder) {
    start("/");
    EXPECT_EQ(form->Dir1->Path(), "/");
    EXPECT_EQ(form->CurrentFolder, "");
    EXPECT_EQ(form->TrackPath("x.mp3"), "/x.mp3");
}

TEST_F(BrowserTest, EditorCopyIsRefilledOnlyWhileShown) {
    const QString a = makeNumberedFolder("a", 3), b = makeNumberedFolder("b", 2);
    const QString c = makeFolder("c", {"z.wav"}), empty = makeFolder("empty", {});
    const auto editorCopy = [this] { return listTexts(form->List2); };
    start(a);
    EXPECT_EQ(form->List2->count(), 0);
    form->EditProg_Click();
    ASSERT_EQ(form->Height(), 6495);
    EXPECT_EQ(editorCopy(), fileList());
    enter(b);
    EXPECT_EQ(editorCopy(), QStringList({"track00000.mp3", "track00001.mp3"}));
    enter(empty);
    EXPECT_TRUE(editorCopy().isEmpty());
    enter(b);
    form->EditProg_Click();
    ASSERT_EQ(form->Height(), 3765);
    enter(c);
    EXPECT_EQ(editorCopy(), QStringList({"track00000.mp3", "track00001.mp3"}));
}

TEST_F(BrowserTest, RefreshKeepsTheRememberedIndex) {
    start(makeNumberedFolder("a", 3));
    form->File1->setListIndex(2);
    form->FlatBar9_Click(0);
    EXPECT_EQ(form->File1->ListIndex(), 2);
    EXPECT_EQ(form->TrackIndex, 2);

    // The current file deleted outside: the list shrinks, TrackIndex keeps the old index.
    ASSERT_TRUE(QFile::remove(folder + "/track00002.mp3"));
    form->Refresh_Click();
    EXPECT_EQ(fileList(), QStringList({"track00000.mp3", "track00001.mp3"}));
    EXPECT_EQ(form->File1->ListIndex(), -1);
    EXPECT_EQ(form->TrackIndex, 2);
    EXPECT_TRUE(transport(true));
    // All gone: the buttons grey out.
    for (const QString &name : fileList())
        ASSERT_TRUE(QFile::remove(folder + "/" + name));
    form->Refresh_Click();
    EXPECT_EQ(form->File1->ListCount(), 0);
    EXPECT_EQ(form->TrackIndex, -1);
    EXPECT_TRUE(transport(false));
}

TEST_F(BrowserTest, PicksAndKeysInTheFileList) {
    start(makeNumberedFolder("a", 3));

    // No current entry: nothing plays and the window stays usable.
    form->File1->setListIndex(-1);
    form->File1_KeyUp(40, 0);
    form->File1_MouseDown(1, 0, 0, 0);
    EXPECT_TRUE(media->opened.isEmpty());
    EXPECT_TRUE(form->isWindowEnabled());

    // A left click plays; until the open completes, real input reaches no control.
    form->File1->setListIndex(1);
    form->File1_MouseDown(1, 0, 0, 0);
    EXPECT_EQ(media->opened, QStringList({folder + "/track00001.mp3"}));
    EXPECT_EQ(form->TrackIndex, 1);
    EXPECT_FALSE(form->isWindowEnabled());
    QSignalSpy clicks(form->FlatBar1, &FlatBar::Click);
    QTest::mouseClick(form->FlatBar1->button(2), Qt::LeftButton);
    QTest::keyClick(form->File1, Qt::Key_Down);
    EXPECT_EQ(clicks.count(), 0);
    EXPECT_EQ(media->opened.size(), 1);
    media->completeOpen(60);
    EXPECT_TRUE(form->isWindowEnabled());
    QTest::mouseClick(form->FlatBar1->button(2), Qt::LeftButton);
    EXPECT_EQ(clicks.count(), 1);
}

TEST_F(BrowserTest, HugeFolderInRandomMode) {
    constexpr int files = 20000;
    start(makeNumberedFolder("big", files), 7);
    ASSERT_EQ(form->File1->ListCount(), files);
    form->Random.seed(9);
    form->FlatBar1_Click(0);
    EXPECT_EQ(form->RandomPool.size(), files - 1);
    for (int i = 0; i < 300; ++i)
        finish(60);
    EXPECT_GE(lastIndex(), 0);
    EXPECT_EQ(form->RandomPool.size(), files - 301);
    // A pick past any three-digit index.
    pick(files - 1);
    EXPECT_EQ(media->opened.last(), folder + "/track19999.mp3");
}

TEST_F(BrowserTest, NamesThatAreNotUtf8AreListedPlayedAndKept) {
    // Latin-1 names, as older collections have them.
    const QByteArray dirBytes = EncodeFileName(tmp.path()) + "/caf\xe9";
    ASSERT_EQ(::mkdir(dirBytes.constData(), 0700), 0);
    ASSERT_EQ(::mkdir((dirBytes + "/d\xe9j\xe0").constData(), 0700), 0);
    for (const char *name : {"\xe9t\xe9.mp3", "b.mp3"}) {
        const int fd = ::open((dirBytes + "/" + name).constData(), O_CREAT | O_WRONLY, 0600);
        ASSERT_GE(fd, 0);
        ::close(fd);
    }
    const QString dir = DecodeFileName(dirBytes);
    start(dir);
    EXPECT_EQ(form->CurrentFolder, dir);
    ASSERT_EQ(fileList(), QStringList({"b.mp3", DecodeFileName("\xe9t\xe9.mp3")}));
    // Shown readably: the file, the folder and its subfolder.
    EXPECT_EQ(form->File1->model()->index(1, 0).data().toString(), "été.mp3");
    const int last = form->Dir1->count() - 1;
    EXPECT_EQ(form->Dir1->item(last - 1)->text().trimmed(), "café");
    EXPECT_EQ(form->Dir1->item(last)->text().trimmed(), "déjà");

    // The programme editor's copy keeps the name and shows it readably.
    form->EditProg_Click();
    ASSERT_EQ(listTexts(form->List2), fileList());
    const auto *shown = qobject_cast<QStyledItemDelegate *>(form->List2->itemDelegate());
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(shown->displayText(form->List2->item(1)->text(), QLocale()), "été.mp3");
    form->EditProg_Click();

    // A click hands the name's own bytes to the media control.
    pick(1);
    EXPECT_EQ(EncodeFileName(media->opened.value(0)), dirBytes + "/\xe9t\xe9.mp3");
    media->completeOpen(61);
    EXPECT_EQ(form->Label2->text(), "Tunabel - été 1'01\"");

    // The subfolder is entered like any other.
    emit form->Dir1->itemActivated(form->Dir1->item(last));
    EXPECT_EQ(EncodeFileName(form->Dir1->Path()), dirBytes + "/d\xe9j\xe0");

    // Kept in the settings at exit and restored at the next start.
    enter(dir);
    form->close();
    form.reset();
    SetSettingsFolder(tmp.path() + "/config"); // read back from the disk
    load();
    EXPECT_EQ(form->CurrentFolder, dir);
    form->FlatBar1_Click(4);
    form->FlatBar1_Click(4);
    form->FlatBar1_Click(0);
    EXPECT_EQ(EncodeFileName(media->opened.last()), dirBytes + "/\xe9t\xe9.mp3");
}

TEST_F(BrowserTest, OnlyAKeyPressedInTheFileListPlaysOnItsRelease) {
    start(makeNumberedFolder("a", 3));
    form->File1->setListIndex(1);
    // Releases whose press closed a box (Return) or the main menu (Escape).
    QMessageBox box;
    QTest::keyPress(&box, Qt::Key_Return);
    QTest::keyRelease(form->File1, Qt::Key_Return);
    QTest::keyPress(form->principal, Qt::Key_Escape);
    QTest::keyRelease(form->File1, Qt::Key_Escape);
    EXPECT_TRUE(media->opened.isEmpty());

    // A key pressed and released in the list plays the current file, once.
    QTest::keyClick(form->File1, Qt::Key_Return);
    EXPECT_EQ(media->opened, QStringList({folder + "/track00001.mp3"}));
    // It fails; the Return closing the box lands in the list: no replay.
    media->fail("Impossible de lire le fichier.");
    QTest::keyPress(&box, Qt::Key_Return);
    QTest::keyRelease(form->File1, Qt::Key_Return);
    EXPECT_EQ(media->opened.size(), 1);
    EXPECT_EQ(messages.size(), 1);

    // Nor a press before the list lost the focus, nor one during an open.
    QTest::keyPress(form->File1, Qt::Key_Down);
    QFocusEvent out(QEvent::FocusOut);
    QCoreApplication::sendEvent(form->File1, &out);
    QTest::keyRelease(form->File1, Qt::Key_Down);
    EXPECT_EQ(media->opened.size(), 1);

    QTest::keyClick(form->File1, Qt::Key_Space);
    ASSERT_EQ(media->opened.size(), 2);
    ASSERT_FALSE(form->isWindowEnabled());
    QTest::keyPress(form->File1, Qt::Key_Return);
    media->completeOpen(60);
    QTest::keyRelease(form->File1, Qt::Key_Return);
    EXPECT_EQ(media->opened.size(), 2);
}

TEST_F(BrowserTest, ReChoosingTheFolderOrDriveShownChangesNothingAnotherDriveGoesToItsRoot) {
    const QString a = makeNumberedFolder("a", 3), b = makeNumberedFolder("b", 2);
    const QString usb = makeNumberedFolder("usb", 2), missing = tmp.path() + "/cdrom";
    setting("Favoris", "0", a);
    setting("Favoris", "1", b);
    start(a);
    form->CreateFav();
    pick(2);
    media->completeOpen(60);
    ASSERT_EQ(form->TrackIndex, 2);
    const auto unchanged = [&] {
        EXPECT_EQ(form->TrackIndex, 2);
        EXPECT_EQ(form->File1->ListIndex(), 2);
        EXPECT_EQ(form->Dir1->Path(), a);
    };
    form->Menu_Click(1); // the favourite of the folder shown
    unchanged();
    enter(a + "/");
    unchanged();
    enter(a + "/../a");
    unchanged();
    emit form->Drive1->activated(form->Drive1->currentIndex()); // the drive shown, picked again
    unchanged();
    // The next track still follows the one playing; another folder resets the index.
    media->reachEnd();
    EXPECT_EQ(lastIndex(), 0);
    form->Menu_Click(2);
    EXPECT_EQ(form->Dir1->Path(), b);
    EXPECT_EQ(form->TrackIndex, -1);

    form->Drive1->setVolumes({"/", usb, missing});
    ASSERT_TRUE(form->Drive1->setDrive(b));
    const auto pickDrive = [&](const QString &root) {
        for (int i = 0; i < form->Drive1->count(); ++i) {
            form->Drive1->setCurrentIndex(i);
            if (form->Drive1->Drive() == root) {
                emit form->Drive1->activated(i);
                return;
            }
        }
        FAIL() << root.toStdString();
    };
    pickDrive(usb);
    EXPECT_EQ(form->CurrentFolder, usb);
    EXPECT_EQ(form->TrackIndex, -1);
    // A drive that is not ready: the list goes back to the folder's drive.
    form->TrackIndex = 1;
    pickDrive(missing);
    EXPECT_EQ(form->Drive1->Drive(), usb);
    EXPECT_EQ(form->Dir1->Path(), usb);
    EXPECT_EQ(form->TrackIndex, 1);
    pickDrive("/");
    EXPECT_EQ(form->Dir1->Path(), "/");
    EXPECT_EQ(form->CurrentFolder, form->File1->ListCount() > 0 ? QString() : usb);
}
