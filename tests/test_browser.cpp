// The folder browser: folder changes, picks in the file list, refresh and
// favourite folders, against the fake media control.
#include "support/playerfixture.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

// Readable failures.
inline void PrintTo(const QString &s, std::ostream *os) {
    *os << '"' << s.toStdString() << '"';
}

namespace {

class BrowserTest : public PlayerTest {
protected:
    // The enabled state of the transport buttons 0 to 4, when they agree.
    ::testing::AssertionResult transport(bool enabled) const {
        for (int i = 0; i <= 4; ++i)
            if (form->FlatBar1->isButtonEnabled(i) != enabled)
                return ::testing::AssertionFailure() << "button " << i;
        return ::testing::AssertionSuccess();
    }
    QStringList editorCopy() const {
        QStringList out;
        for (int i = 0; i < form->List2->count(); ++i)
            out << form->List2->item(i)->text();
        return out;
    }
    QStringList fileList() const {
        QStringList out;
        for (int i = 0; i < form->File1->ListCount(); ++i)
            out << form->File1->List(i);
        return out;
    }
};

// A playable file at the root of the file system, removed at the end.
struct RootFile {
    QString path = QString("/tunabel-test-%1.mp3").arg(QCoreApplication::applicationPid());
    bool made = QFile(path).open(QIODevice::WriteOnly);
    ~RootFile() {
        if (made)
            QFile::remove(path);
    }
};

} // namespace

TEST_F(BrowserTest, TransportButtonsFollowTheFileList) {
    const QString a = makeNumberedFolder("a", 3), b = makeNumberedFolder("b", 2);
    const QString e1 = makeFolder("e1", {"cover.jpg", "notes.txt"}), e2 = makeFolder("e2", {});
    load();
    enter(e1);
    EXPECT_TRUE(transport(false));
    enter(a);
    EXPECT_TRUE(transport(true));
    EXPECT_EQ(form->CurrentFolder, a);
    EXPECT_EQ(form->TrackIndex, -1);

    // A playing track and the current folder survive empty folders.
    pick(2);
    media->completeOpen(60);
    enter(e1);
    EXPECT_TRUE(transport(false));
    EXPECT_EQ(form->CurrentFolder, a);
    EXPECT_EQ(form->TrackIndex, 2);
    enter(e2);
    EXPECT_TRUE(transport(false));
    EXPECT_EQ(form->TrackIndex, 2);
    EXPECT_EQ(media->CurrentState(), 2);

    enter(b);
    EXPECT_TRUE(transport(true));
    EXPECT_EQ(form->CurrentFolder, b);
    EXPECT_EQ(form->TrackIndex, -1);
    EXPECT_EQ(form->File1->ListIndex(), -1);
    EXPECT_EQ(media->FileName(), a + "/track00002.mp3");
}

TEST_F(BrowserTest, StartFolderSetsTheCurrentFolder) {
    const QString music = QDir::homePath() + "/Music";
    QDir().mkpath(music);
    QFile(music + "/x.mp3").open(QIODevice::WriteOnly); // gone with the test's home
    load();
    ASSERT_EQ(form->Dir1->Path(), music);
    EXPECT_EQ(form->CurrentFolder, music);
    EXPECT_TRUE(transport(true));
    form->FlatBar1_Click(0);
    EXPECT_EQ(media->opened, QStringList({music + "/x.mp3"}));
}

TEST_F(BrowserTest, RootFolderGivesAnEmptyCurrentFolder) {
    RootFile file;
    if (!file.made)
        GTEST_SKIP() << "the root folder is not writable here";
    load();
    enter("/");
    EXPECT_EQ(form->CurrentFolder, "");
    EXPECT_EQ(form->TrackPath("x.mp3"), "/x.mp3");
    const int i = int(fileList().indexOf(QFileInfo(file.path).fileName()));
    ASSERT_GE(i, 0);
    pick(i);
    EXPECT_EQ(media->opened, QStringList({file.path}));
}

TEST_F(BrowserTest, EditorCopyIsRefilledOnlyWhileShown) {
    const QString a = makeNumberedFolder("a", 3), b = makeNumberedFolder("b", 2);
    const QString c = makeFolder("c", {"z.wav"}), empty = makeFolder("empty", {});
    load();
    enter(a);
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
    const QString a = makeNumberedFolder("a", 3);
    load();
    enter(a);
    form->File1->setListIndex(2);
    form->FlatBar9_Click(0);
    EXPECT_EQ(form->File1->ListIndex(), 2);
    EXPECT_EQ(form->TrackIndex, 2);

    // The current file was deleted outside the player: the list shrinks,
    // the old index stays in TrackIndex.
    ASSERT_TRUE(QFile::remove(a + "/track00002.mp3"));
    form->Refresh_Click();
    EXPECT_EQ(fileList(), QStringList({"track00000.mp3", "track00001.mp3"}));
    EXPECT_EQ(form->File1->ListIndex(), -1);
    EXPECT_EQ(form->TrackIndex, 2);
    EXPECT_TRUE(transport(true));
    // All gone: the buttons grey out.
    for (const QString &name : fileList())
        ASSERT_TRUE(QFile::remove(a + "/" + name));
    form->Refresh_Click();
    EXPECT_EQ(form->File1->ListCount(), 0);
    EXPECT_EQ(form->TrackIndex, -1);
    EXPECT_TRUE(transport(false));
}

TEST_F(BrowserTest, PicksAndKeysInTheFileList) {
    const QString a = makeNumberedFolder("a", 3);
    load();
    enter(a);
    const int mode = form->PlayMode;

    // A key while a file is being opened does nothing.
    form->File1->setListIndex(1);
    form->setEnabled(false);
    form->File1_KeyUp(40, 0);
    EXPECT_TRUE(media->opened.isEmpty());
    EXPECT_EQ(form->TrackIndex, -1);
    form->setEnabled(true);

    // No current entry: nothing plays and the window stays usable.
    form->File1->setListIndex(-1);
    form->File1_KeyUp(40, 0);
    form->File1_MouseDown(1, 0, 0, 0);
    EXPECT_TRUE(media->opened.isEmpty());
    EXPECT_TRUE(form->isEnabled());

    // One left click selects and plays.
    form->File1->setListIndex(1);
    form->File1_MouseDown(1, 0, 0, 0);
    EXPECT_EQ(media->opened, QStringList({a + "/track00001.mp3"}));
    EXPECT_EQ(form->TrackIndex, 1);
    EXPECT_FALSE(form->isEnabled());
    EXPECT_EQ(form->PlayMode, mode);
    media->completeOpen(60);
    EXPECT_TRUE(form->isEnabled());
}

TEST_F(BrowserTest, PickWhileMutedTurnsTheSoundBackOn) {
    const QString a = makeNumberedFolder("a", 2);
    load();
    enter(a);
    form->VScroll1->setValue(30);
    form->FlatBar6_Click(0);
    ASSERT_TRUE(form->Muted);
    media->volumeWrites.clear();
    pick(1);
    EXPECT_FALSE(form->Muted);
    EXPECT_EQ(media->volumeWrites, QVector<int>({-1500}));
    EXPECT_EQ(form->FlatBar6->button(0)->toolTip(), "Couper le son");
    media->completeOpen(60);
    EXPECT_TRUE(form->VScroll1->isEnabled());
    EXPECT_EQ(media->Volume(), -1500);
}

TEST_F(BrowserTest, FavouriteFolderThatNoLongerExists) {
    const QString a = makeNumberedFolder("a", 3), b = makeNumberedFolder("b", 1);
    load();
    QVector<QMessageBox::Icon> icons;
    form->MsgBox = [&](const QString &text, QMessageBox::Icon icon, const QString &) {
        messages << text;
        icons << icon;
    };
    enter(a);
    form->File1->setListIndex(1);
    form->Menu[1]->setText(tmp.path() + "/parti");
    form->Menu_Click(1);
    EXPECT_EQ(messages, QStringList({"Ce répertoire n'existe plus."}));
    EXPECT_EQ(icons, QVector<QMessageBox::Icon>({QMessageBox::Warning}));
    EXPECT_EQ(form->Dir1->Path(), a);
    EXPECT_EQ(form->CurrentFolder, a);
    EXPECT_EQ(form->File1->ListCount(), 3);
    EXPECT_EQ(form->File1->ListIndex(), 1);

    form->Menu[2]->setText(b);
    form->Menu_Click(2);
    EXPECT_EQ(messages.size(), 1);
    EXPECT_EQ(form->Dir1->Path(), b);
    EXPECT_EQ(form->CurrentFolder, b);
}

TEST_F(BrowserTest, HugeFolderInRandomMode) {
    constexpr int files = 20000;
    const QString big = makeNumberedFolder("big", files);
    load();
    enter(big);
    ASSERT_EQ(form->File1->ListCount(), files);
    EXPECT_TRUE(transport(true));
    form->PlayMode = 7;
    form->Random.seed(9);
    form->FlatBar1_Click(0);
    EXPECT_EQ(form->RandomPool.size(), files - 1);
    QSet<QString> seen;
    for (int i = 0; i < 300; ++i) {
        ASSERT_EQ(QFileInfo(media->opened.last()).path(), big);
        seen << media->opened.last();
        media->completeOpen(60);
        media->reachEnd();
    }
    EXPECT_EQ(seen.size(), 300);
    EXPECT_EQ(form->RandomPool.size(), files - 301);

    // A pick past any three-digit index.
    pick(files - 1);
    EXPECT_EQ(media->opened.last(), big + "/track19999.mp3");
}
