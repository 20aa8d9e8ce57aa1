// Load and unload of the main window against a private settings store.
#include "support/playerfixture.h"

#include "platform/settingsstore.h"
#include "platform/window.h"
#include "windows/form3.h"

#include <QCoreApplication>
#include <QDir>
#include <QPointer>
#include <QSystemTrayIcon>

namespace {

struct ModeRow {
    const char *stored;
    int mode;
    int button;
};

class ModeTable : public PlayerTest, public ::testing::WithParamInterface<ModeRow> {};

} // namespace

TEST_F(PlayerTest, FirstStartWithoutSettings) {
    const QString music = QDir::homePath() + "/Music";
    QDir().mkpath(music);
    Form1 *f = load();
    EXPECT_EQ(f->PlayMode, 7);
    EXPECT_EQ(f->FlatBar1->pressedButton(), 8);
    EXPECT_EQ(f->VScroll1->value(), 0);
    EXPECT_TRUE(f->Durée->isChecked());
    EXPECT_TRUE(f->LectCont->isChecked());
    EXPECT_FALSE(f->Fade->isChecked());
    EXPECT_FALSE(f->Randloo->isChecked());
    EXPECT_FALSE(f->OnTop->isChecked());
    EXPECT_EQ(f->Dir1->Path(), music);
    EXPECT_EQ(f->Label2->text(), "Tunabel - Arrêt");
    EXPECT_EQ(f->LastCaption, "Tunabel - Arrêt");
    EXPECT_EQ(f->Height(), 3765);
    EXPECT_TRUE(f->isVisible());
    // Nothing is loaded, and clearing the name raised no notification.
    EXPECT_TRUE(media->FileName().isEmpty());
    EXPECT_TRUE(media->log.isEmpty());
    // The tray record carries the display text.
    EXPECT_EQ(f->TrayData.tipText(), "Tunabel - Arrêt");
    EXPECT_EQ(f->TrayData.cbSize, 88);
    EXPECT_EQ(f->TrayData.uCallbackMessage, 512);
    EXPECT_NE(TrayEvents::iconOf(f), nullptr);
    // Every menu of the window is there with its captions.
    QStringList menus;
    for (QAction *a : f->principal->actions())
        menus << a->text();
    EXPECT_EQ(menus, QStringList({"&Fichier", "&Son", "&Programme", "Fa&voris", "&Options", "&Aide"}));
    EXPECT_EQ(f->Quit->text(), "&Quitter                           Alt+F4");
    EXPECT_EQ(f->Réduire->text(), "Barre des &tâches           T");
    EXPECT_EQ(f->Play[3]->text(), "Stop avec &fade-out");
    EXPECT_TRUE(f->Play[4]->isSeparator());
    EXPECT_EQ(f->Menu.size(), 11);
    EXPECT_FALSE(f->Menu[1]->isVisible());
}

TEST_P(ModeTable, StoredModeGivesModeAndButton) {
    setting("Session", "Mode", GetParam().stored);
    Form1 *f = load();
    EXPECT_EQ(f->PlayMode, GetParam().mode);
    EXPECT_EQ(f->FlatBar1->pressedButton(), GetParam().button);
}

INSTANTIATE_TEST_SUITE_P(Rows, ModeTable,
                         ::testing::Values(ModeRow{"0", 0, 7}, ModeRow{"7", 7, 8}, ModeRow{"77", 77, 8},
                                           ModeRow{"9", 9, 10}, ModeRow{"12", 12, 9}, ModeRow{" 7", 7, 8},
                                           ModeRow{"07", 7, 8}, ModeRow{"012", 7, 8}, ModeRow{"44", 7, 8},
                                           ModeRow{"abc", 7, 8}));

TEST_F(PlayerTest, StoreWithOnlyVolume) {
    setting("Session", "Volume", "35");
    Form1 *f = load();
    EXPECT_EQ(f->VScroll1->value(), 35);
    EXPECT_EQ(f->PlayMode, 7);
    EXPECT_TRUE(f->LectCont->isChecked());
    // The restored position shows no volume message and writes no volume.
    EXPECT_EQ(f->Label2->text(), "Tunabel - Arrêt");
    EXPECT_TRUE(media->volumeWrites.isEmpty());
    EXPECT_EQ(f->VolumeLevel, 0);
}

TEST_F(PlayerTest, BadStoredValuesKeepDesignValues) {
    const QColor designBack = [] {
        FileListBox probe;
        return probe.BackColor();
    }();
    struct Bad {
        const char *volume;
        const char *colour;
    };
    for (const Bad &bad : {Bad{"abc", "abc"}, Bad{"150", " 255"}, Bad{"-3", "1e2"}, Bad{" 20", "12abc"},
                           Bad{"1e2", "0x10"}, Bad{"", ""}}) {
        SetSettingsFolder(tmp.path() + "/bad" + QString::number(qHash(QString(bad.volume))));
        setting("Session", "Volume", bad.volume);
        setting("Aspect", "Fond", bad.colour);
        setting("Aspect", "Texte", bad.colour);
        setting("Session", "Path", tmp.path() + "/gone");
        Form1 *f = load();
        EXPECT_EQ(f->VScroll1->value(), 0) << bad.volume;
        EXPECT_EQ(f->File1->BackColor(), designBack) << bad.colour;
        EXPECT_NE(f->Dir1->Path(), tmp.path() + "/gone");
        form.reset();
    }
}

TEST_F(PlayerTest, StoredColoursAndOptionsApply) {
    setting("Aspect", "Fond", "255");       // red
    setting("Aspect", "Texte", "16711680"); // blue
    setting("Options", "Fade", "Oui");
    setting("Options", "Continue", "Non");
    setting("Options", "Répétition", "Oui");
    setting("Temps", "Infos", "Non");
    Form1 *f = load();
    EXPECT_EQ(f->File1->BackColor(), QColor(255, 0, 0));
    EXPECT_EQ(f->File1->ForeColor(), QColor(0, 0, 255));
    EXPECT_EQ(f->Dir1->palette().color(QPalette::Base), QColor(255, 0, 0));
    EXPECT_TRUE(f->Fade->isChecked());
    EXPECT_FALSE(f->LectCont->isChecked());
    EXPECT_TRUE(f->Randloo->isChecked());
    EXPECT_FALSE(f->Durée->isChecked());
    // Loading changes no stored option.
    EXPECT_EQ(stored("Options", "Répétition"), "Oui");
    EXPECT_EQ(stored("Options", "Fade"), "Oui");
}

TEST_F(PlayerTest, StoredOnTopPutsTheWindowOnTop) {
    setting("Options", "Dessus", "Oui");
    Form1 *f = load();
    EXPECT_TRUE(f->OnTop->isChecked());
    EXPECT_TRUE(IsTopMost(f));
    EXPECT_TRUE(f->isVisible());
}

TEST_F(PlayerTest, RestoredFolderAndTransportButtons) {
    const QString withFiles = makeFolder("with", {"b.mp3", "a.WAV", "notes.txt"});
    const QString empty = makeFolder("empty", {"readme.txt"});

    setting("Session", "Path", withFiles);
    Form1 *f = load();
    EXPECT_EQ(f->Dir1->Path(), withFiles);
    EXPECT_EQ(f->CurrentFolder, withFiles);
    EXPECT_EQ(f->File1->ListCount(), 2);
    for (int i = 0; i <= 4; ++i)
        EXPECT_TRUE(f->FlatBar1->isButtonEnabled(i)) << i;
    form.reset();

    setting("Session", "Path", empty);
    f = load();
    EXPECT_EQ(f->Dir1->Path(), empty);
    for (int i = 0; i <= 4; ++i)
        EXPECT_FALSE(f->FlatBar1->isButtonEnabled(i)) << i;
    for (int i = 5; i <= 11; ++i)
        EXPECT_TRUE(f->FlatBar1->isButtonEnabled(i)) << i;
}

TEST_F(PlayerTest, UnloadSavesSessionAndRemovesTrayIcon) {
    const QString folder = makeFolder("session", {"a.mp3"});
    setting("Session", "Path", folder);
    setting("Session", "Mode", "0");
    Form1 *f = load();
    f->VScroll1->setValue(42);
    f->FlatBar1_Click(9); // introductions
    EXPECT_EQ(f->PlayMode, 12);
    f->close();
    EXPECT_EQ(stored("Session", "Path"), folder);
    EXPECT_EQ(stored("Session", "Mode"), "12");
    EXPECT_EQ(stored("Session", "Volume"), "42");
    EXPECT_EQ(TrayEvents::iconOf(f), nullptr);
    // Nothing was loaded, so nothing was stopped.
    EXPECT_FALSE(media->log.contains("close"));
}

TEST_F(PlayerTest, ClosingInProgrammeModeKeepsTheSavedMode) {
    setting("Session", "Mode", "77");
    Form1 *f = load();
    f->PlayMode = 9;
    int cancel = 0;
    f->Form_Unload(cancel);
    EXPECT_EQ(stored("Session", "Mode"), "77");
    EXPECT_EQ(cancel, 0);
}

TEST_F(PlayerTest, ClosingWithFadeFadesOutBeforeTheStop) {
    makeFolder("fade", {"a.mp3"});
    setting("Session", "Path", tmp.path() + "/fade");
    setting("Options", "Fade", "Oui");
    Form1 *f = load();
    media->setFileName(tmp.path() + "/fade/a.mp3");
    media->completeOpen(10);
    ASSERT_EQ(media->CurrentState(), 2);
    media->volumeWrites.clear();
    media->log.clear();
    f->close();
    // 0, -20, ..., -4000, then the file is closed.
    ASSERT_EQ(media->volumeWrites.size(), 201);
    EXPECT_EQ(media->volumeWrites.front(), 0);
    EXPECT_EQ(media->volumeWrites.back(), -4000);
    ASSERT_FALSE(media->log.isEmpty());
    EXPECT_EQ(media->log.last(), "close");
    EXPECT_TRUE(media->FileName().isEmpty());
    EXPECT_EQ(f->Label2->text(), "Tunabel - Arrêt");
}

TEST_F(PlayerTest, ReduceToTrayHidesAndTrayClickBringsBack) {
    Form1 *f = load();
    f->Réduire_Click();
    EXPECT_FALSE(f->isVisible());
    EXPECT_NE(TrayEvents::iconOf(f), nullptr);
    emit TrayEvents::instance()->mouseMessage(f, WM_LBUTTONDOWN);
    EXPECT_TRUE(f->isVisible());
    EXPECT_FALSE(IsTopMost(f));
}

TEST(Splash, VersionLineAndMainWindowLoad) {
    EXPECT_EQ(Form3::VersionLine(3, 0, 0), "Version 3.00");
    EXPECT_EQ(Form3::VersionLine(3, 1, 12), "Version 3.112");

    QTemporaryDir tmp;
    SetSettingsFolder(tmp.path());
    // The start window is on screen while the main window is built.
    static bool splashVisibleDuringLoad = false;
    Form3::MakeMainWindow = [] {
        splashVisibleDuringLoad = App::form3 && App::form3->isVisible();
        return new Form1(new FakeMediaControl);
    };
    auto *splash = new Form3;
    App::form3 = splash;
    splash->Form_Load();
    ASSERT_NE(App::form1, nullptr);
    EXPECT_TRUE(splashVisibleDuringLoad);
    EXPECT_TRUE(App::form1->isVisible());
    EXPECT_FALSE(splash->isVisible());
    EXPECT_FALSE(splash->Label1->isVisible());
    EXPECT_EQ(splash->Label1->text(), "Version 3.00");
    EXPECT_EQ(splash->width(), 310);
    // Closing the main window unloads the start window too.
    Form1 *main = App::form1;
    QPointer<Form1> guard(main);
    main->close();
    EXPECT_EQ(App::form3, nullptr);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(guard.isNull()); // unloaded, not only hidden
    Form3::MakeMainWindow = nullptr;
    SetSettingsFolder(QString());
}

TEST_F(PlayerTest, FavouritesMenuFollowsTheStore) {
    const QString a = makeFolder("fav a", {"x.mp3"});
    const QString b = makeFolder("fav & b", {});
    setting("Favoris", "1", b); // without key "0" nothing shows
    Form1 *f = load();
    for (int i = 1; i <= 10; ++i)
        EXPECT_FALSE(f->Menu[i]->isVisible()) << i;
    setting("Favoris", "0", a);
    f->CreateFav();
    EXPECT_TRUE(f->Menu[1]->isVisible());
    EXPECT_TRUE(f->Menu[2]->isVisible());
    EXPECT_FALSE(f->Menu[3]->isVisible());
    // Going to a favourite whose folder has an ampersand in its name.
    f->Menu_Click(2);
    EXPECT_EQ(f->Dir1->Path(), b);
    EXPECT_TRUE(messages.isEmpty());
    f->Menu_Click(1);
    EXPECT_EQ(f->Dir1->Path(), a);
    EXPECT_EQ(f->CurrentFolder, a);
}
