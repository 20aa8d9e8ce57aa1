// The toolbar, the settings store and the file list.
#include "platform/filename.h"
#include "platform/flatbar.h"
#include "platform/listcontrols.h"
#include "platform/settingsstore.h"
#include "support/playerfixture.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QInputDialog>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <sys/stat.h>

namespace {

// Twelve buttons like the transport bar: 7 to 11 form the check group.
std::unique_ptr<FlatBar> transportLike() {
    auto bar = std::make_unique<FlatBar>();
    QVector<FlatButtonDef> defs;
    for (int i = 0; i < 12; ++i)
        defs.append({QString("b%1").arg(i), i == 6 ? -1 : i % 3, {}, i >= 7, i == 6 ? 2 : 0});
    bar->setImageStrip({QIcon(), QIcon(), QIcon()});
    bar->setDesign(defs);
    bar->RefreshBar();
    return bar;
}

// The indexes reported by the clicks so far.
QList<int> clicked(const QSignalSpy &spy) {
    QList<int> out;
    for (const QList<QVariant> &args : spy)
        out << args.at(0).toInt();
    return out;
}

} // namespace

// Any bytes come back the same; valid UTF-8 reads as itself, anything else as one escape per byte.
TEST(FileNameTest, EveryByteSequenceRoundTripsAndValidUtf8ReadsAsItself) {
    const struct {
        QByteArray bytes;
        int escapes; // bytes that cannot be read as UTF-8
    } cases[] = {
        {"piste 01.mp3", 0},
        {"caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\x8e\xb5.wav", 0},
        {"\xe9t\xe9 \xc3\xa9t\xc3\xa9.au", 2}, // Latin-1 then UTF-8
        {"fin coup\xc3", 1},                   // a sequence cut at the end
        {"\xc0\xaf", 2},                       // overlong
        {"\xed\xa0\x80", 3},                   // a surrogate
        {"\xef\x9e\x81", 3},                   // U+F781, one of our own escapes
        {"\x80\xff", 2},
        {"", 0},
    };
    for (const auto &c : cases) {
        const QString name = DecodeFileName(c.bytes);
        EXPECT_EQ(EncodeFileName(name), c.bytes) << c.bytes.toHex().toStdString();
        EXPECT_EQ(HasEscapedBytes(name), c.escapes > 0) << c.bytes.toHex().toStdString();
        int escapes = 0;
        for (QChar ch : name)
            escapes += ch.unicode() >= 0xF780 && ch.unicode() <= 0xF7FF;
        EXPECT_EQ(escapes, c.escapes) << c.bytes.toHex().toStdString();
        if (c.escapes == 0) {
            EXPECT_EQ(name, QString::fromUtf8(c.bytes));
        }
    }
    // Valid text around bad bytes keeps its characters.
    EXPECT_EQ(DecodeFileName("\xe9t\xe9 \xc3\xa9t\xc3\xa9.au").right(7),
              QString::fromUtf8(" \xc3\xa9t\xc3\xa9.au"));
}

TEST(FlatBarTest, CheckGroupDisabledButtonsAndRefresh) {
    auto bar = transportLike();
    QSignalSpy clicks(bar.get(), &FlatBar::Click);
    bar->PressButton(8);
    EXPECT_TRUE(clicks.isEmpty()); // pressing by code raises no click

    // A click on the pressed button keeps it pressed and still reports.
    QTest::mouseClick(bar->button(10), Qt::LeftButton);
    QTest::mouseClick(bar->button(10), Qt::LeftButton);
    EXPECT_EQ(clicked(clicks), QList<int>({10, 10}));
    EXPECT_EQ(bar->pressedButton(), 10);
    int pressed = 0;
    for (int i = 0; i < 12; ++i)
        pressed += bar->button(i)->isChecked() ? 1 : 0;
    EXPECT_EQ(pressed, 1);

    // Buttons outside the group never show pressed; PressButton ignores them.
    bar->PressButton(2);
    EXPECT_EQ(bar->pressedButton(), 10);
    QTest::mouseClick(bar->button(2), Qt::LeftButton);
    EXPECT_FALSE(bar->button(2)->isChecked());

    // Disabled buttons raise no click; a refresh keeps the states.
    clicks.clear();
    for (int i = 0; i <= 4; ++i)
        bar->DisableButton(i);
    QTest::mouseClick(bar->button(0), Qt::LeftButton);
    QTest::mouseClick(bar->button(4), Qt::LeftButton);
    EXPECT_TRUE(clicks.isEmpty());
    bar->PressButton(9);
    bar->RefreshBar();
    EXPECT_FALSE(bar->isButtonEnabled(3));
    EXPECT_EQ(bar->pressedButton(), 9);
    bar->EnableButton(0);
    QTest::mouseClick(bar->button(0), Qt::LeftButton);
    EXPECT_EQ(clicked(clicks), QList<int>({0}));
    // Out-of-range indexes are ignored.
    bar->DisableButton(40);
    bar->PressButton(-1);
    EXPECT_EQ(bar->pressedButton(), 9);
}

TEST(SettingsTest, AccentedKeysRoundTripAndADamagedFileReadsAsMissing) {
    QTemporaryDir dir;
    const std::shared_ptr<void> restore(nullptr, [](void *) { SetSettingsFolder(QString()); });
    // A fresh store object reads only what reached the disk.
    const auto reopen = [&] { SetSettingsFolder(dir.path()); };
    reopen();
    EXPECT_EQ(GetSetting("Tunabel", "Options", "Répétition"), "");
    SaveSetting("Tunabel", "Options", "Répétition", "Oui");
    SaveSetting("Tunabel", "Intro", "Durée", "12");
    SaveSetting("Tunabel", "Session", "Path", "/home/é/Musique, live/été");
    SaveSetting("Tunabel", "Favoris", "0", "/a");
    SaveSetting("Tunabel", "Favoris", "1", "/b/c");
    reopen();
    EXPECT_EQ(GetSetting("Tunabel", "Options", "Répétition"), "Oui");
    EXPECT_EQ(GetSetting("Tunabel", "Intro", "Durée"), "12");
    EXPECT_EQ(GetSetting("Tunabel", "Session", "Path"), "/home/é/Musique, live/été");
    using Pairs = decltype(GetAllSettings("", ""));
    EXPECT_EQ(GetAllSettings("Tunabel", "Favoris"), (Pairs{{"0", "/a"}, {"1", "/b/c"}}));
    DeleteSetting("Tunabel", "Favoris", "0");
    reopen();
    EXPECT_EQ(GetAllSettings("Tunabel", "Favoris"), (Pairs{{"1", "/b/c"}}));

    // Damaged: read as missing, and writable again.
    ASSERT_TRUE(
        writeFile(SettingsFilePath("Tunabel"), "[Session\nMode=\"77\n\x01\x02\xff\xfe garbage [[[\n"));
    reopen();
    EXPECT_EQ(GetSetting("Tunabel", "Session", "Mode"), "");
    EXPECT_TRUE(GetAllSettings("Tunabel", "Favoris").isEmpty());
    SaveSetting("Tunabel", "Session", "Mode", "0");
    reopen();
    EXPECT_EQ(GetSetting("Tunabel", "Session", "Mode"), "0");

    // A folder where the file should be: no crash, no values.
    QTemporaryDir other;
    SetSettingsFolder(other.path());
    QDir().mkpath(SettingsFilePath("Tunabel"));
    EXPECT_EQ(GetSetting("Tunabel", "Session", "Mode"), "");
}

TEST(FileListTest, MatchingSortingAndCurrentEntry) {
    QTemporaryDir dir;
    auto touch = [&](const QString &name) { QFile(dir.path() + "/" + name).open(QIODevice::WriteOnly); };
    for (const char *name : {"b.MP3", "a.wav", "C.Au", "d.aiff", "e.mp2", "f.aif", "g.aifc", "h.mid", "i.mpg",
                             "j.mpeg", "k.ogg", "l.mp3.txt", "m.ogg.bak", "mp3", ".mp3x", "B2.mp3"})
        touch(name);
    QDir(dir.path()).mkdir("folder.mp3");
    ASSERT_EQ(mkfifo(QFile::encodeName(dir.path() + "/pipe.mp3").constData(), 0600), 0);
    ASSERT_TRUE(QFile::link(dir.path() + "/a.wav", dir.path() + "/link.wav"));

    FileListBox list;
    auto names = [&] {
        QStringList out;
        for (int i = 0; i < list.ListCount(); ++i)
            out << list.List(i);
        return out;
    };
    list.setPath(dir.path());
    EXPECT_EQ(names(), QStringList({"a.wav", "b.MP3", "B2.mp3", "C.Au", "d.aiff", "e.mp2", "f.aif", "g.aifc",
                                    "h.mid", "i.mpg", "j.mpeg", "k.ogg", "link.wav"}));
    EXPECT_EQ(list.FileName(), "");
    EXPECT_EQ(list.List(-1) + list.List(99), "");
    EXPECT_TRUE(list.setListIndex(2));
    EXPECT_EQ(list.FileName(), "B2.mp3");
    EXPECT_FALSE(list.setListIndex(13));
    EXPECT_EQ(list.ListIndex(), 2);

    // Re-reading sees files removed and added outside; the dangling link drops out.
    QFile::remove(dir.path() + "/a.wav");
    touch("zz.wav");
    list.Refresh();
    EXPECT_EQ(names(), QStringList({"b.MP3", "B2.mp3", "C.Au", "d.aiff", "e.mp2", "f.aif", "g.aifc", "h.mid",
                                    "i.mpg", "j.mpeg", "k.ogg", "zz.wav"}));
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
    EXPECT_FALSE(tree.setPath(dir.path() + "/nope"));
    EXPECT_FALSE(tree.setPath(""));
    EXPECT_EQ(tree.Path(), dir.path() + "/x");
    EXPECT_EQ(changes.count(), 1);
    // The user moves into the subfolder.
    QListWidgetItem *sub = tree.item(tree.count() - 1);
    ASSERT_EQ(sub->text().trimmed(), "y");
    emit tree.itemActivated(sub);
    EXPECT_EQ(tree.Path(), dir.path() + "/x/y");
    EXPECT_EQ(changes.count(), 2);
    // The folder shown, set again: no change.
    EXPECT_TRUE(tree.setPath(dir.path() + "/x/../x/y/"));
    EXPECT_EQ(changes.count(), 2);
}

TEST(DriveTest, TheDriveOfAFolderIsTheVolumeHoldingIt) {
    DriveListBox drives;
    QSignalSpy changes(&drives, &DriveListBox::Change);
    EXPECT_TRUE(drives.setDrive(QDir::tempPath()));
    EXPECT_TRUE(drives.setDrive("/proc/self"));
    EXPECT_EQ(drives.Drive(), "/"); // volumes of the system are not drives

    // Nested volumes: the deepest one holding the path, never a mere prefix of its name.
    drives.setVolumes({"/media/usb", "/media/usb2", "/media/usb/disque"});
    for (auto [path, drive] : {std::pair{"/media/usb2/a", "/media/usb2"},
                               {"/media/usb", "/media/usb"},
                               {"/media/usb/disque/b/c", "/media/usb/disque"},
                               {"/media/usb/disques", "/media/usb"},
                               {"/media", "/"},
                               {"/media/usb3", "/"}}) {
        EXPECT_TRUE(drives.setDrive(path));
        EXPECT_EQ(drives.Drive(), drive) << path;
    }
    EXPECT_EQ(drives.count(), 4);
    EXPECT_EQ(changes.count(), 0); // setting the drive by code is no change

    // A user's pick of another drive is one change; of the same, none.
    drives.setDrive("/media/usb2");
    drives.setCurrentIndex(1);
    emit drives.activated(1);
    drives.setCurrentIndex(1);
    emit drives.activated(1);
    EXPECT_EQ(changes.count(), 1);
}

TEST(LanguageTest, QtDialogButtonsSpeakFrench) {
    QDialogButtonBox buttons(QDialogButtonBox::Cancel | QDialogButtonBox::Yes | QDialogButtonBox::No);
    EXPECT_EQ(buttons.button(QDialogButtonBox::Cancel)->text(), "Annuler");
    EXPECT_EQ(buttons.button(QDialogButtonBox::Yes)->text(), "&Oui");
    EXPECT_EQ(buttons.button(QDialogButtonBox::No)->text(), "&Non");
    QInputDialog input;
    input.show();
    QStringList texts;
    for (const QPushButton *b : input.findChildren<QPushButton *>())
        texts << b->text();
    EXPECT_TRUE(texts.contains("Annuler")) << texts.join(", ").toStdString();
    EXPECT_FALSE(texts.contains("Cancel") || texts.contains("&Cancel"));
}
