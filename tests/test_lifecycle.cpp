// Load and unload of the main window against a private settings store.
#include "support/playerfixture.h"

#include "platform/settingsstore.h"
#include "platform/window.h"
#include "windows/form3.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QPointer>

using LifecycleTest = PlayerTest;

TEST_F(LifecycleTest, FirstStartShowsTheMusicFolderWithNothingLoaded) {
    const QString music = QDir::homePath() + "/Music";
    QDir().mkpath(music);
    QFile(music + "/x.mp3").open(QIODevice::WriteOnly); // gone with the test's home
    Form1 *f = load();
    EXPECT_EQ(f->PlayMode, 7);
    EXPECT_EQ(f->FlatBar1->pressedButton(), 8);
    EXPECT_EQ(f->VScroll1->value(), 0);
    EXPECT_TRUE(f->Durée->isChecked() && f->LectCont->isChecked());
    EXPECT_FALSE(f->Fade->isChecked() || f->Randloo->isChecked() || f->OnTop->isChecked());
    EXPECT_EQ(f->Label2->text(), "Tunabel - Arrêt");
    EXPECT_EQ(f->TrayData.tipText(), "Tunabel - Arrêt");
    EXPECT_NE(TrayEvents::iconOf(f), nullptr);
    EXPECT_TRUE(media->log.isEmpty()); // nothing loaded, and clearing the name raised no notification
    EXPECT_EQ(f->Dir1->Path(), music);
    EXPECT_EQ(f->CurrentFolder, music);
    EXPECT_TRUE(transport(true));
    f->FlatBar1_Click(0);
    EXPECT_EQ(media->opened, QStringList({music + "/x.mp3"}));
}

TEST_F(LifecycleTest, OnlyTheExactStoredModesCount) {
    for (auto [text, mode, button] : {std::tuple{"0", 0, 7},
                                      {"7", 7, 8},
                                      {"77", 77, 8},
                                      {"9", 9, 10},
                                      {"12", 12, 9},
                                      {" 7", 7, 8},
                                      {"07", 7, 8},
                                      {"012", 7, 8},
                                      {"44", 7, 8},
                                      {"abc", 7, 8}}) {
        SCOPED_TRACE(text);
        setting("Session", "Mode", text);
        load();
        EXPECT_EQ(form->PlayMode, mode);
        EXPECT_EQ(form->FlatBar1->pressedButton(), button);
    }
}

TEST_F(LifecycleTest, BadStoredValuesKeepDesignValues) {
    const QColor designBack = FileListBox().BackColor();
    for (auto [volume, colour] : {std::pair{"abc", "abc"},
                                  {"150", " 255"},
                                  {"-3", "1e2"},
                                  {" 20", "12abc"},
                                  {"1e2", "0x10"},
                                  {"", ""}}) {
        SCOPED_TRACE(volume);
        SetSettingsFolder(tmp.path() + "/bad" + QString::number(qHash(QString(volume))));
        setting("Session", "Volume", volume);
        setting("Aspect", "Fond", colour);
        setting("Aspect", "Texte", colour);
        setting("Session", "Path", tmp.path() + "/gone");
        load();
        EXPECT_EQ(form->VScroll1->value(), 0);
        EXPECT_EQ(form->File1->BackColor(), designBack);
        EXPECT_NE(form->Dir1->Path(), tmp.path() + "/gone");
    }
}

TEST_F(LifecycleTest, StoredValuesApply) {
    setting("Aspect", "Fond", "255");       // red
    setting("Aspect", "Texte", "16711680"); // blue
    setting("Options", "Fade", "Oui");
    setting("Options", "Continue", "Non");
    setting("Options", "Répétition", "Oui");
    setting("Options", "Dessus", "Oui");
    setting("Temps", "Infos", "Non");
    setting("Session", "Volume", "35");
    Form1 *f = load();
    EXPECT_EQ(f->File1->BackColor(), QColor(255, 0, 0));
    EXPECT_EQ(f->File1->ForeColor(), QColor(0, 0, 255));
    EXPECT_EQ(f->Dir1->palette().color(QPalette::Base), QColor(255, 0, 0));
    EXPECT_TRUE(f->Fade->isChecked() && f->Randloo->isChecked() && f->OnTop->isChecked());
    EXPECT_FALSE(f->LectCont->isChecked() || f->Durée->isChecked());
    EXPECT_TRUE(IsTopMost(f));
    EXPECT_TRUE(f->isVisible());
    // The restored volume shows no volume message and writes no volume.
    EXPECT_EQ(f->VScroll1->value(), 35);
    EXPECT_EQ(f->Label2->text(), "Tunabel - Arrêt");
    EXPECT_TRUE(media->volumeWrites.isEmpty());
    // Loading changes no stored option.
    EXPECT_EQ(stored("Options", "Répétition"), "Oui");
    EXPECT_EQ(stored("Options", "Fade"), "Oui");
}

TEST_F(LifecycleTest, RestoredFolderWithoutPlayableFilesGreysTheTransportOut) {
    const QString empty = makeFolder("empty", {"readme.txt"});
    setting("Session", "Path", empty);
    load();
    EXPECT_EQ(form->Dir1->Path(), empty);
    EXPECT_TRUE(transport(false));
    for (int i = 5; i <= 11; ++i)
        EXPECT_TRUE(form->FlatBar1->isButtonEnabled(i)) << i;
}

TEST_F(LifecycleTest, UnloadSavesTheSessionButNotTheProgrammeMode) {
    const QString dir = makeFolder("session", {"a.mp3"});
    setting("Session", "Path", dir);
    setting("Session", "Mode", "0");
    Form1 *f = load();
    f->VScroll1->setValue(42);
    f->FlatBar1_Click(9); // introductions
    f->close();
    EXPECT_EQ(stored("Session", "Path"), dir);
    EXPECT_EQ(stored("Session", "Mode"), "12");
    EXPECT_EQ(stored("Session", "Volume"), "42");
    EXPECT_EQ(TrayEvents::iconOf(f), nullptr);
    EXPECT_FALSE(media->log.contains("close")); // nothing was loaded, so nothing was stopped

    f = load();
    f->FlatBar1_Click(10);
    ASSERT_EQ(f->PlayMode, 9);
    f->close();
    EXPECT_EQ(stored("Session", "Mode"), "12");
}

TEST_F(LifecycleTest, ClosingWithFadeFadesOutBeforeTheStop) {
    const QString dir = makeFolder("fade", {"a.mp3"});
    setting("Session", "Path", dir);
    setting("Options", "Fade", "Oui");
    Form1 *f = load();
    media->setFileName(dir + "/a.mp3");
    media->completeOpen(10);
    ASSERT_EQ(media->CurrentState(), 2);
    media->volumeWrites.clear();
    media->log.clear();
    f->close();
    // 0, -20, ..., -4000, then the file is closed.
    ASSERT_EQ(media->volumeWrites.size(), 201);
    EXPECT_EQ(media->volumeWrites.back(), -4000);
    EXPECT_EQ(media->log, QStringList({"close"}));
    EXPECT_EQ(f->Label2->text(), "Tunabel - Arrêt");
}

TEST_F(LifecycleTest, ReduceToTrayHidesAndTrayClickBringsBack) {
    Form1 *f = load();
    f->Réduire_Click();
    EXPECT_FALSE(f->isVisible());
    EXPECT_NE(TrayEvents::iconOf(f), nullptr);
    emit TrayEvents::instance()->mouseMessage(f, WM_LBUTTONDOWN);
    EXPECT_TRUE(f->isVisible());
    EXPECT_FALSE(IsTopMost(f));
}

TEST(Splash, ShownWhileTheMainWindowLoadsAndUnloadedWithIt) {
    EXPECT_EQ(Form3::VersionLine(3, 0, 0), "Version 3.00");
    EXPECT_EQ(Form3::VersionLine(3, 1, 12), "Version 3.112");

    QTemporaryDir tmp;
    SetSettingsFolder(tmp.path());
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
    // Closing the main window unloads the start window too.
    QPointer<Form1> main(App::form1);
    main->close();
    EXPECT_EQ(App::form3, nullptr);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(main.isNull()); // unloaded, not only hidden
    Form3::MakeMainWindow = nullptr;
    SetSettingsFolder(QString());
}
