// Load and unload of the main window against a private settings store.
#include "support/mediawatch.h"
#include "support/playerfixture.h"

#include "platform/settingsstore.h"
#include "platform/window.h"
#include "storage/playlist.h"
#include "windows/form3.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QExposeEvent>
#include <QFile>
#include <QPointer>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <cstdlib>
#include <unistd.h>
#include <xcb/xcb.h>

#include <sys/stat.h>
#include <unistd.h>

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
    EXPECT_EQ(f->TrayData.tipText(), "Tunabel - Arrêt");
    EXPECT_NE(TrayEvents::iconOf(f), nullptr);
    EXPECT_TRUE(media->log.isEmpty()); // nothing loaded, and clearing the name raised no notification
    EXPECT_EQ(f->CurrentFolder, music);
    EXPECT_TRUE(transport(true));
    f->FlatBar1_Click(0);
    EXPECT_EQ(media->opened, QStringList({music + "/x.mp3"}));
}

TEST_F(LifecycleTest, OnlyTheExactStoredModesCount) {
    const std::tuple<const char *, int, int> cases[] = {
        {"0", 0, 7},  {"7", 7, 8},  {"77", 77, 8}, {"9", 9, 10}, {"12", 12, 9},
        {" 7", 7, 8}, {"07", 7, 8}, {"012", 7, 8}, {"44", 7, 8}, {"abc", 7, 8}};
    for (auto [text, mode, button] : cases) {
        SCOPED_TRACE(text);
        setting("Session", "Mode", text);
        load();
        EXPECT_EQ(form->PlayMode, mode);
        EXPECT_EQ(form->FlatBar1->pressedButton(), button);
    }
}

TEST_F(LifecycleTest, BadStoredValuesKeepDesignValuesAndTheStartFolder) {
    const QString music = QDir::homePath() + "/Music";
    QDir().mkpath(music);
    const QString notAFolder = makeFolder("files", {"a.mp3"}) + "/a.mp3";
    const QColor designBack = FileListBox().BackColor();
    for (auto [volume, colour, path] : {std::tuple{"abc", "abc", tmp.path() + "/gone"},
                                        {"150", " 255", notAFolder},
                                        {"-3", "1e2", QString("gone/too")},
                                        {" 20", "12abc", tmp.path() + "/gone/"},
                                        {"1e2", "0x10", QString("\\serveur\\musique")},
                                        {"", "", QString()}}) {
        SCOPED_TRACE(volume);
        SetSettingsFolder(tmp.path() + "/bad" + QString::number(qHash(QString(volume))));
        setting("Session", "Volume", volume);
        setting("Aspect", "Fond", colour);
        setting("Aspect", "Texte", colour);
        setting("Session", "Path", path);
        load();
        EXPECT_EQ(form->VScroll1->value(), 0);
        EXPECT_EQ(form->File1->BackColor(), designBack);
        EXPECT_FALSE(form->Drive1->BackColor().isValid() || form->Drive1->ForeColor().isValid());
        EXPECT_EQ(form->Dir1->Path(), music); // the start folder
        EXPECT_EQ(form->File1->Path(), music);
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
    // The drive list is painted in the list colours too.
    const QImage drives = f->Drive1->grab().toImage();
    int back = 0, text = 0;
    for (int y = 0; y < drives.height(); ++y)
        for (int x = 0; x < drives.width(); ++x) {
            const QColor c = drives.pixelColor(x, y);
            back += c == QColor(255, 0, 0) ? 1 : 0;
            text += c.blue() > 200 && c.red() < 60 && c.green() < 60 ? 1 : 0;
        }
    EXPECT_GT(back, drives.width() * drives.height() / 2);
    EXPECT_GT(text, 0);
    EXPECT_TRUE(f->Fade->isChecked() && f->Randloo->isChecked() && f->OnTop->isChecked());
    EXPECT_FALSE(f->LectCont->isChecked() || f->Durée->isChecked());
    EXPECT_TRUE(IsTopMost(f));
    // The restored volume shows no message and writes nothing; no option is rewritten.
    EXPECT_EQ(f->VScroll1->value(), 35);
    EXPECT_EQ(f->Label2->text(), "Tunabel - Arrêt");
    EXPECT_TRUE(media->volumeWrites.isEmpty());
    EXPECT_EQ(stored("Options", "Répétition"), "Oui");
}

TEST_F(LifecycleTest, UnloadSavesTheSessionButNotTheProgrammeModeAndFadesOutFirst) {
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

    // A file playing with "Fade": 0, -20, ..., -4000, then the file is closed.
    setting("Options", "Fade", "Oui");
    setting("Session", "Volume", "0");
    setting("Session", "Mode", "0");
    f = load();
    media->setFileName(dir + "/a.mp3");
    media->completeOpen(10);
    settle();
    ASSERT_EQ(media->CurrentState(), 2);
    media->volumeWrites.clear();
    media->log.clear();
    f->close();
    ASSERT_EQ(media->volumeWrites.size(), 201);
    EXPECT_EQ(media->volumeWrites.back(), -4000);
    EXPECT_EQ(media->log, QStringList({"close"}));
}

TEST_F(LifecycleTest, ReduceToTrayHidesOnlyWhereATrayIconCanBringTheWindowBack) {
    const std::shared_ptr<void> restore(nullptr, [](void *) { SetTrayAvailability({}); });
    for (bool tray : {true, false}) {
        SCOPED_TRACE(tray);
        SetTrayAvailability([tray] { return tray; });
        Form1 *f = load();
        ASSERT_NE(TrayEvents::iconOf(f), nullptr);
        EXPECT_EQ(TrayEvents::iconOf(f)->isVisible(), tray);
        f->Réduire_Click();
        // Without a tray: to the task bar, never out of reach, and back as from the tray.
        EXPECT_EQ(f->isVisible(), !tray);
        EXPECT_EQ(f->isMinimized(), !tray);
        emit TrayEvents::instance()->mouseMessage(f, WM_LBUTTONDOWN);
        EXPECT_TRUE(f->isVisible());
        EXPECT_FALSE(f->isMinimized() || IsTopMost(f));
        form.reset();
    }
}

namespace {

// The window system's side of a first show as X11 has it: the window counts
// as exposed before the widget gets an expose it can paint on, a few turns
// of the event loop later, or never (no paint in time).
class HeldExpose : public QObject {
public:
    HeldExpose(QWindow *window, bool never) : m_window(window), m_never(never) {
        window->installEventFilter(this);
    }
    bool eventFilter(QObject *, QEvent *event) override {
        if (event->type() != QEvent::Expose || (m_held && !m_never))
            return false;
        if (!m_held && !m_never)
            later(3);
        m_held = true;
        return true;
    }

private:
    void later(int turns) {
        QTimer::singleShot(0, m_window, [this, turns] {
            if (turns > 1)
                return later(turns - 1);
            QExposeEvent late(QRect(QPoint(), m_window->size()));
            QCoreApplication::sendEvent(m_window, &late);
        });
    }
    QWindow *m_window;
    bool m_never, m_held = false;
};

// Counts the paints of a widget once shown (not its picture made beforehand).
class PaintCount : public QObject {
public:
    explicit PaintCount(QWidget *w) : m_widget(w) { w->installEventFilter(this); }
    bool eventFilter(QObject *, QEvent *event) override {
        count += event->type() == QEvent::Paint && m_widget->isVisible() ? 1 : 0;
        return false;
    }
    int count = 0;

private:
    QWidget *m_widget;
};

} // namespace

TEST(Splash, PaintedBeforeTheMainWindowLoadsOrNotShownAndUnloadedWithIt) {
    // The minor and patch numbers are run together, not separated.
    EXPECT_EQ(Form3::VersionLine(3, 1, 12), "Version 3.112");

    QTemporaryDir tmp;
    SetSettingsFolder(tmp.path());
    // The start window as on screen during the main window's load, and as it paints itself.
    static QImage onScreen, painted;
    static bool shown;
    static int paintsBefore;
    static PaintCount *paints;
    Form3::MakeMainWindow = [] {
        shown = App::form3 && App::form3->isVisible();
        paintsBefore = paints->count;
        if (shown) {
            onScreen = App::form3->screen()->grabWindow(App::form3->winId()).toImage();
            painted = App::form3->grab().toImage();
        }
        return new Form1(new FakeMediaControl);
    };
    // The expose at once (offscreen), a turn late, and never.
    for (int expose : {0, 1, 2}) {
        SCOPED_TRACE(expose);
        onScreen = painted = QImage();
        auto *splash = new Form3;
        App::form3 = splash;
        PaintCount count(splash);
        paints = &count;
        splash->winId(); // its native window, to watch before the show
        std::unique_ptr<HeldExpose> held;
        if (expose > 0)
            held = std::make_unique<HeldExpose>(splash->windowHandle(), expose == 2);
        Form3::PaintWaitMs = expose == 2 ? 200 : 30000;
        splash->Form_Load();
        ASSERT_NE(App::form1, nullptr);
        // Never an empty start window during the load: painted, or not shown.
        EXPECT_EQ(shown, expose < 2);
        EXPECT_EQ(paintsBefore > 0, expose < 2);
        if (shown) {
            ASSERT_EQ(onScreen.size(), painted.size());
            int same = 0, dark = 0;
            for (int y = 0; y < painted.height(); y += 4)
                for (int x = 0; x < painted.width(); x += 4) {
                    same += onScreen.pixelColor(x, y) == painted.pixelColor(x, y) ? 1 : 0;
                    dark += qGray(painted.pixel(x, y)) < 16 ? 1 : 0;
                }
            const int samples = ((painted.height() + 3) / 4) * ((painted.width() + 3) / 4);
            EXPECT_LT(dark, samples / 2); // the picture is not black itself
            EXPECT_EQ(same, samples);
        }
        EXPECT_TRUE(App::form1->isVisible());
        EXPECT_FALSE(splash->isVisible());
        // Hidden, it let its window and picture go; shown again as the About
        // box, it has both again.
        if (shown) {
            ASSERT_TRUE(waitFor([&] { return splash->windowHandle() == nullptr; }, 10000));
            splash->show();
            EXPECT_EQ(splash->grab().toImage(), painted);
            splash->hide();
        }
        // Closing the main window unloads the start window too.
        held.reset();
        QPointer<Form1> main(App::form1);
        main->close();
        EXPECT_EQ(App::form3, nullptr);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(main.isNull()); // unloaded, not only hidden
    }
    Form3::MakeMainWindow = nullptr;
    Form3::PaintWaitMs = 3000;
    SetSettingsFolder(QString());
}

TEST_F(LifecycleTest, SettingsThatCannotBeSavedAreToldOnceAndDamagedCopiesAreAllKept) {
    const QString file = SettingsFilePath(kApp);
    const QString config = QFileInfo(file).path();
    // Each way the file cannot be written; root writes through permissions,
    // so those two only count for a user.
    const struct {
        const char *what;
        std::function<void()> make;
        const char *why;
        bool asUser;
    } cases[] = {
        {"a folder in the file's place",
         [&] {
             QDir().mkpath(file + "/dedans");
             writeFile(file + "/dedans/à garder", "x");
         },
         "un dossier porte ce nom", false},
        {"a file in the folder's place", [&] { writeFile(config, "x"); }, "son dossier n'a pas pu être créé",
         false},
        {"a read-only folder",
         [&] {
             QDir().mkpath(config);
             chmod(QFile::encodeName(config).constData(), 0555);
         },
         "son dossier est protégé en écriture", true},
        {"a link to a file the user cannot write",
         [&] {
             QDir().mkpath(config);
             writeFile(tmp.path() + "/protégé.ini", "[Options]\nFade=Non\n");
             chmod(QFile::encodeName(tmp.path() + "/protégé.ini").constData(), 0444);
             QFile::link(tmp.path() + "/protégé.ini", file);
         },
         "lien vers un fichier protégé", true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        if (c.asUser && geteuid() == 0)
            continue;
        form.reset();
        QDir(config).removeRecursively();
        QFile::remove(config);
        SetSettingsFolder(config);
        c.make();
        load();
        messages.clear();
        form->Fade_Click();
        form->Fade_Click();
        form->close(); // and the session's keys
        ASSERT_EQ(messages.size(), 1);
        EXPECT_TRUE(messages[0].contains(file) && messages[0].contains(c.why)) << messages[0].toStdString();
        EXPECT_FALSE(QFileInfo::exists(file + ".illisible")); // nothing moved aside
        if (&c == &cases[0]) {
            EXPECT_EQ(fileBytes(file + "/dedans/à garder"), "x");
        }
        chmod(QFile::encodeName(config).constData(), 0755);
    }

    // Damaged three times: each copy kept under its own name, none overwritten,
    // and nothing said (the new file is written). A folder of its own: Qt
    // keeps what the cases above could not write, by path.
    form.reset();
    const QString other = tmp.path() + "/abîmé";
    SetSettingsFolder(other);
    const QString damaged = SettingsFilePath(kApp);
    QDir().mkpath(damaged + ".illisible-3"); // taken, by a folder
    for (const QByteArray damage : {"[Session\n\x01", "[[[\n\xff", "[Aspect\nFond=1\n"}) {
        ASSERT_TRUE(writeFile(damaged, damage));
        SetSettingsFolder(other);
        load();
        messages.clear();
        form->Fade_Click();
        EXPECT_TRUE(messages.isEmpty());
        EXPECT_EQ(stored("Options", "Fade"), "Oui");
    }
    EXPECT_EQ(fileBytes(damaged + ".illisible"), QByteArray("[Session\n\x01"));
    EXPECT_EQ(fileBytes(damaged + ".illisible-2"), QByteArray("[[[\n\xff"));
    EXPECT_EQ(fileBytes(damaged + ".illisible-4"), QByteArray("[Aspect\nFond=1\n"));
    EXPECT_TRUE(QFileInfo(damaged + ".illisible-3").isDir());
}

TEST_F(LifecycleTest, StartRemovesOnlyOurOwnStaleTemporaries) {
    const QString config = QFileInfo(SettingsFilePath(kApp)).path();
    const QString lists = tmp.path() + "/lists";
    SetPlaylistFolder(lists);
    const std::shared_ptr<void> restore(nullptr, [](void *) { SetPlaylistFolder(QString()); });
    QDir().mkpath(config);
    QDir().mkpath(lists);
    const QDateTime old = QDateTime::currentDateTime().addSecs(-5 * 60);
    const struct {
        QString path;
        bool stale, removed;
    } cases[] = {
        {lists + "/.tnl-save-a1B2c3", true, true},
        {config + "/Tunabel.ini.Xy12Zw", true, true},
        {lists + "/.tnl-save-a1B2c4", false, false}, // a save in progress
        {config + "/Tunabel.ini.Xy12Zv", false, false},
        {lists + "/.tnl-save-a1B2c", true, false}, // not our shape
        {lists + "/.tnl-save-a1B2c3.tnl", true, false},
        {lists + "/.tnl-save-a1-2c3", true, false},
        {lists + "/ma liste.tnl", true, false},
        {config + "/Tunabel.ini", true, false},
        {config + "/Tunabel.ini.illisible", true, false},
        {config + "/Tunabel.ini.backup", true, false}, // the user's own copies
        {config + "/Tunabel.ini.202612", true, false},
        {config + "/Autre.ini.Xy12Zw", true, false},
    };
    for (const auto &c : cases) {
        ASSERT_TRUE(writeFile(c.path, "x"));
        if (c.stale) {
            QFile f(c.path);
            ASSERT_TRUE(f.open(QIODevice::ReadWrite) &&
                        f.setFileTime(old, QFileDevice::FileModificationTime));
        }
    }
    // Of our shape but not a regular file: a folder, a link.
    QDir().mkpath(lists + "/.tnl-save-Dossie");
    ASSERT_TRUE(QFile::link(lists + "/ma liste.tnl", lists + "/.tnl-save-Lien00"));
    load();
    for (const auto &c : cases)
        EXPECT_EQ(QFileInfo::exists(c.path), !c.removed) << c.path.toStdString();
    EXPECT_TRUE(QFileInfo(lists + "/.tnl-save-Dossie").isDir());
    EXPECT_TRUE(QFileInfo(lists + "/.tnl-save-Lien00").isSymLink());
}

// Under X11 the start window's picture is on screen from the moment the
// display server maps the window, before the program paints anything: a
// child of this test, on a private X server, looks without running events.
TEST(Splash, PictureShownByTheDisplayServerAtTheMapUnderX11) {
    if (QGuiApplication::platformName() == "xcb") {
        QWidget w;
        w.setFixedSize(64, 48);
        QImage picture(w.size(), QImage::Format_RGB32);
        picture.fill(QColor(200, 150, 20));
        ASSERT_TRUE(SetMappedBackground(&w, picture));
        w.show();
        xcb_flush(qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection());
        xcb_connection_t *look = xcb_connect(nullptr, nullptr);
        ASSERT_FALSE(xcb_connection_has_error(look));
        const auto id = xcb_window_t(w.winId());
        const auto viewable = [&] {
            xcb_get_window_attributes_reply_t *a =
                xcb_get_window_attributes_reply(look, xcb_get_window_attributes(look, id), nullptr);
            const bool v = a && a->map_state == XCB_MAP_STATE_VIEWABLE;
            std::free(a);
            return v;
        };
        for (int i = 0; i < 30000 && !viewable(); ++i)
            usleep(1000);
        ASSERT_TRUE(viewable());
        xcb_get_image_reply_t *image = xcb_get_image_reply(
            look, xcb_get_image(look, XCB_IMAGE_FORMAT_Z_PIXMAP, id, 32, 24, 1, 1, ~0u), nullptr);
        ASSERT_NE(image, nullptr);
        ASSERT_GE(xcb_get_image_data_length(image), 4);
        const uint8_t *bgr = xcb_get_image_data(image);
        EXPECT_EQ(QColor(bgr[2], bgr[1], bgr[0]), QColor(200, 150, 20));
        std::free(image);
        xcb_disconnect(look);
        return;
    }
    QWidget offscreen;
    EXPECT_FALSE(SetMappedBackground(&offscreen, QImage(4, 4, QImage::Format_RGB32))); // not X11
    const QString xvfb = QStandardPaths::findExecutable("Xvfb");
    ASSERT_FALSE(xvfb.isEmpty()) << "Xvfb is missing (package xvfb)";
    int n = 140;
    while (QFile::exists(QString("/tmp/.X%1-lock").arg(n)) ||
           QFile::exists(QString("/tmp/.X11-unix/X%1").arg(n)))
        ++n;
    QProcess server;
    server.start(xvfb, {QString(":%1").arg(n), "-screen", "0", "320x240x24", "-nolisten", "tcp"});
    ASSERT_TRUE(server.waitForStarted(30000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return QFile::exists(QString("/tmp/.X11-unix/X%1").arg(n)); }, 30000));
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert("DISPLAY", QString(":%1").arg(n));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {"--gtest_filter=Splash.PictureShownByTheDisplayServerAtTheMapUnderX11"});
    EXPECT_TRUE(child.waitForFinished(120000));
    const QByteArray out = child.readAll();
    EXPECT_EQ(child.exitCode(), 0) << out.toStdString();
    EXPECT_TRUE(out.contains("[  PASSED  ] 1 test")) << out.toStdString();
    server.terminate();
    server.waitForFinished(30000);
}
