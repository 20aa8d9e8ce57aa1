// The toolbar, the settings store and the file list.
#include "platform/flatbar.h"
#include "platform/listcontrols.h"
#include "platform/settingsstore.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/types.h>

namespace {

FlatBar *transportLike() {
    auto *bar = new FlatBar;
    QVector<FlatButtonDef> defs;
    for (int i = 0; i < 12; ++i)
        defs.append({QString("b%1").arg(i), i == 6 ? -1 : i % 3, {}, i >= 7, i == 6 ? 2 : 0});
    bar->setImageStrip({QIcon(), QIcon(), QIcon()});
    bar->setDesign(defs);
    bar->RefreshBar();
    return bar;
}

void touch(const QString &path) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
}

} // namespace

TEST(FlatBarTest, CheckGroupShowsExactlyOnePressed) {
    std::unique_ptr<FlatBar> bar(transportLike());
    QSignalSpy clicks(bar.get(), &FlatBar::Click);
    ASSERT_EQ(bar->buttonCount(), 12);
    EXPECT_EQ(bar->button(3)->toolTip(), "b3");

    bar->PressButton(8);
    EXPECT_EQ(bar->pressedButton(), 8);
    EXPECT_EQ(clicks.count(), 0); // pressing by code raises no click

    QTest::mouseClick(bar->button(10), Qt::LeftButton);
    ASSERT_EQ(clicks.count(), 1);
    EXPECT_EQ(clicks.takeFirst().at(0).toInt(), 10);
    EXPECT_EQ(bar->pressedButton(), 10);
    int pressed = 0;
    for (int i = 0; i < 12; ++i)
        pressed += bar->button(i)->isChecked() ? 1 : 0;
    EXPECT_EQ(pressed, 1);

    // A click on the pressed button keeps it pressed and still reports.
    QTest::mouseClick(bar->button(10), Qt::LeftButton);
    EXPECT_EQ(clicks.count(), 1);
    EXPECT_EQ(bar->pressedButton(), 10);

    // Buttons outside the group never show pressed; PressButton ignores them.
    bar->PressButton(2);
    EXPECT_EQ(bar->pressedButton(), 10);
    QTest::mouseClick(bar->button(2), Qt::LeftButton);
    EXPECT_FALSE(bar->button(2)->isChecked());
}

TEST(FlatBarTest, DisabledButtonRaisesNoClickAndRefreshKeepsStates) {
    std::unique_ptr<FlatBar> bar(transportLike());
    QSignalSpy clicks(bar.get(), &FlatBar::Click);
    for (int i = 0; i <= 4; ++i)
        bar->DisableButton(i);
    QTest::mouseClick(bar->button(0), Qt::LeftButton);
    QTest::mouseClick(bar->button(4), Qt::LeftButton);
    EXPECT_EQ(clicks.count(), 0);
    EXPECT_FALSE(bar->isButtonEnabled(3));
    bar->PressButton(9);
    bar->RefreshBar();
    EXPECT_FALSE(bar->isButtonEnabled(3));
    EXPECT_EQ(bar->pressedButton(), 9);
    bar->EnableButton(0);
    QTest::mouseClick(bar->button(0), Qt::LeftButton);
    ASSERT_EQ(clicks.count(), 1);
    EXPECT_EQ(clicks.at(0).at(0).toInt(), 0);
    // Out-of-range indexes are ignored.
    bar->DisableButton(40);
    bar->PressButton(-1);
    EXPECT_EQ(bar->pressedButton(), 9);
}

TEST(FlatBarTest, ClearAndAddRebuildsTheMuteButton) {
    FlatBar bar;
    bar.setImageStrip({QIcon(), QIcon()});
    bar.setDesign({{"Couper le son", 1, {}, false, 0}});
    bar.RefreshBar();
    QSignalSpy clicks(&bar, &FlatBar::Click);
    bar.ClearButtons();
    EXPECT_EQ(bar.buttonCount(), 0);
    bar.AddButton(0, "Rétablir le son", 0, QString(), 1, false);
    ASSERT_EQ(bar.buttonCount(), 1);
    EXPECT_EQ(bar.button(0)->toolTip(), "Rétablir le son");
    QTest::mouseClick(bar.button(0), Qt::LeftButton);
    ASSERT_EQ(clicks.count(), 1);
    EXPECT_EQ(clicks.at(0).at(0).toInt(), 0);
    // Adding again in place replaces, it does not append.
    bar.AddButton(0, "Couper le son", 1, QString(), 1, false);
    EXPECT_EQ(bar.buttonCount(), 1);
    EXPECT_EQ(bar.button(0)->toolTip(), "Couper le son");
}

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override { SetSettingsFolder(dir.path()); }
    void TearDown() override { SetSettingsFolder(QString()); }
    QTemporaryDir dir;
};

TEST_F(SettingsTest, AccentedKeysRoundTripAcrossProcessesOfTheStore) {
    EXPECT_EQ(GetSetting("Tunabel", "Options", "Répétition"), "");
    SaveSetting("Tunabel", "Options", "Répétition", "Oui");
    SaveSetting("Tunabel", "Intro", "Durée", "12");
    SaveSetting("Tunabel", "Session", "Path", "/home/é/Musique, live/été");
    SaveSetting("Tunabel", "Favoris", "0", "/a");
    SaveSetting("Tunabel", "Favoris", "1", "/b/c");
    // A fresh store object reads what reached the disk.
    SetSettingsFolder(dir.path());
    EXPECT_EQ(GetSetting("Tunabel", "Options", "Répétition"), "Oui");
    EXPECT_EQ(GetSetting("Tunabel", "Intro", "Durée"), "12");
    EXPECT_EQ(GetSetting("Tunabel", "Session", "Path"), "/home/é/Musique, live/été");
    const auto favs = GetAllSettings("Tunabel", "Favoris");
    ASSERT_EQ(favs.size(), 2);
    EXPECT_EQ(favs[0], qMakePair(QString("0"), QString("/a")));
    EXPECT_EQ(favs[1], qMakePair(QString("1"), QString("/b/c")));
    DeleteSetting("Tunabel", "Favoris", "0");
    SetSettingsFolder(dir.path());
    EXPECT_EQ(GetSetting("Tunabel", "Favoris", "0"), "");
    EXPECT_EQ(GetAllSettings("Tunabel", "Favoris").size(), 1);
    // The file is where the desktop keeps per-user settings.
    EXPECT_TRUE(QFile::exists(dir.path() + "/Tunabel/Tunabel.ini") ||
                QFile::exists(SettingsFilePath("Tunabel")));
}

TEST_F(SettingsTest, UnreadableOrDamagedFileReadsAsMissing) {
    const QString path = SettingsFilePath("Tunabel");
    QDir().mkpath(QFileInfo(path).absolutePath());
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[Session\nMode=\"77\n\x01\x02\xff\xfe garbage [[[\n");
    }
    SetSettingsFolder(dir.path());
    EXPECT_EQ(GetSetting("Tunabel", "Session", "Mode"), "");
    EXPECT_TRUE(GetAllSettings("Tunabel", "Favoris").isEmpty());
    // Writing afterwards works and keeps the damaged file aside.
    SaveSetting("Tunabel", "Session", "Mode", "0");
    SetSettingsFolder(dir.path());
    EXPECT_EQ(GetSetting("Tunabel", "Session", "Mode"), "0");

    // A folder where the file should be: no crash, no values.
    QTemporaryDir other;
    SetSettingsFolder(other.path());
    QDir().mkpath(SettingsFilePath("Tunabel"));
    EXPECT_EQ(GetSetting("Tunabel", "Session", "Mode"), "");
}

TEST(FileListTest, MatchingSortingAndCurrentEntry) {
    QTemporaryDir dir;
    for (const char *name : {"b.MP3", "a.wav", "C.Au", "d.aiff", "e.mp2", "f.aif", "g.aifc", "h.mid", "i.mpg",
                             "j.mpeg", "k.ogg", "l.mp3.txt", "mp3", ".mp3x", "B2.mp3"})
        touch(dir.path() + "/" + name);
    QDir(dir.path()).mkdir("folder.mp3");
    ASSERT_EQ(mkfifo(QFile::encodeName(dir.path() + "/pipe.mp3").constData(), 0600), 0);
    ASSERT_TRUE(QFile::link(dir.path() + "/a.wav", dir.path() + "/link.wav"));

    FileListBox list;
    list.setPath(dir.path());
    QStringList names;
    for (int i = 0; i < list.ListCount(); ++i)
        names << list.List(i);
    EXPECT_EQ(names, QStringList({"a.wav", "b.MP3", "B2.mp3", "C.Au", "d.aiff", "e.mp2", "f.aif", "g.aifc",
                                  "h.mid", "i.mpg", "j.mpeg", "link.wav"}));
    EXPECT_EQ(list.ListIndex(), -1);
    EXPECT_EQ(list.FileName(), "");
    EXPECT_EQ(list.List(-1), "");
    EXPECT_EQ(list.List(99), "");
    EXPECT_TRUE(list.setListIndex(2));
    EXPECT_EQ(list.ListIndex(), 2);
    EXPECT_EQ(list.FileName(), "B2.mp3");
    EXPECT_FALSE(list.setListIndex(12));
    EXPECT_EQ(list.ListIndex(), 2);
    EXPECT_TRUE(list.setListIndex(-1));
    EXPECT_EQ(list.FileName(), "");

    // Re-reading sees files removed and added outside the program; the link
    // left dangling drops out.
    QFile::remove(dir.path() + "/a.wav");
    touch(dir.path() + "/zz.wav");
    list.Refresh();
    EXPECT_EQ(list.ListCount(), 11);
    EXPECT_EQ(list.List(0), "b.MP3");
    EXPECT_EQ(list.List(9), "j.mpeg");
    EXPECT_EQ(list.List(10), "zz.wav");

    // A folder that cannot be read lists nothing.
    list.setPath(dir.path() + "/missing");
    EXPECT_EQ(list.ListCount(), 0);
}

TEST(FolderTest, PathChangesNotifyAndMissingFoldersAreRefused) {
    QTemporaryDir dir;
    QDir(dir.path()).mkpath("x/y");
    DirListBox tree;
    QSignalSpy changes(&tree, &DirListBox::Change);
    EXPECT_TRUE(tree.setPath(dir.path() + "/x"));
    EXPECT_EQ(tree.Path(), dir.path() + "/x");
    EXPECT_EQ(changes.count(), 1);
    EXPECT_FALSE(tree.setPath(dir.path() + "/nope"));
    EXPECT_FALSE(tree.setPath(""));
    EXPECT_EQ(tree.Path(), dir.path() + "/x");
    EXPECT_EQ(changes.count(), 1);
    // The user moves into the subfolder.
    QListWidgetItem *sub = tree.item(tree.count() - 1);
    ASSERT_TRUE(sub->text().trimmed() == "y");
    emit tree.itemActivated(sub);
    EXPECT_EQ(tree.Path(), dir.path() + "/x/y");
    EXPECT_EQ(changes.count(), 2);
    EXPECT_TRUE(tree.setPath("/"));
    EXPECT_EQ(tree.Path(), "/");

    DriveListBox drives;
    QSignalSpy driveChanges(&drives, &DriveListBox::Change);
    EXPECT_TRUE(drives.setDrive(dir.path()));
    EXPECT_EQ(driveChanges.count(), 0); // only a user's pick is a change
    EXPECT_FALSE(drives.Drive().isEmpty());
    EXPECT_TRUE(dir.path().startsWith(drives.Drive()));
}
