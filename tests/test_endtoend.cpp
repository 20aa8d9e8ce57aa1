// The main window playing real files through the GStreamer control, on a
// silent sink that runs as fast as it can.
#include "platform/settingsstore.h"
#include "player/form1.h"
#include "support/mediafiles.h"
#include "support/sinktap.h"

#include <QTemporaryDir>

namespace {

using namespace testmedia;

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(tmp.isValid());
        SetSettingsFolder(tmp.path() + "/config");
        StartMediaEngine();
    }
    void TearDown() override {
        form.reset();
        SetSettingsFolder(QString());
    }

    // Loads the window over `dir` in `mode`.
    Form1 *load(const char *mode) {
        SaveSetting(kApp, "Session", "Path", dir);
        SaveSetting(kApp, "Session", "Mode", mode);
        control = new GstMediaControl(nullptr, silentSinks());
        // Connected before the window's handlers, so it runs first: the
        // handler's pending events can play a short file through.
        QObject::connect(control, &MediaControl::OpenComplete, control,
                         [this] { opened << Form1::Nom(control->FileName()); });
        form = std::make_unique<Form1>(control);
        form->MsgBox = [this](const QString &text, QMessageBox::Icon, const QString &,
                              QMessageBox::StandardButtons) {
            messages << text;
            return QMessageBox::Ok;
        };
        form->Form_Load();
        return form.get();
    }
    void pick(int i) {
        ASSERT_TRUE(form->File1->setListIndex(i));
        form->File1_KeyUp(0, 0);
    }

    QTemporaryDir tmp;
    const QString dir = tmp.path();
    GstMediaControl *control = nullptr;
    std::unique_ptr<Form1> form;
    QStringList opened, messages;
};

} // namespace

TEST_F(EndToEnd, ContinuousModePlaysTheFolderThroughToTheWrap) {
    ASSERT_FALSE(MakeWav(dir, "a.wav", {0.4}).isEmpty());
    ASSERT_FALSE(MakeAiff(dir, "b.aiff", {0.4}).isEmpty());
    ASSERT_FALSE(MakeMidi(dir, "c.mid", 0.4).isEmpty());
    load("0");
    pick(0);
    ASSERT_TRUE(waitFor([&] { return opened.size() >= 4; })) << opened.join(",").toStdString();
    EXPECT_EQ(opened.mid(0, 4), QStringList({"a", "b", "c", "a"}));
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_TRUE(form->isWindowEnabled());
    // The user stops: nothing else starts.
    form->FlatBar1_Click(2);
    const int count = int(opened.size());
    QTest::qWait(300);
    EXPECT_EQ(opened.size(), count);
    EXPECT_EQ(form->Label2->text(), "Tunabel - Arrêt");
    EXPECT_TRUE(control->FileName().isEmpty());
}

TEST_F(EndToEnd, IntroductionsStopEachFileAtTheSetLength) {
    ASSERT_FALSE(MakeWav(dir, "a.wav", {2.0}).isEmpty());
    ASSERT_FALSE(MakeMp3(dir, "b.mp3", {2.0}).isEmpty());
    ASSERT_FALSE(MakeAu(dir, "c.au", {2.0}).isEmpty());
    SaveSetting(kApp, "Intro", "Durée", "0.5");
    load("12");
    // The pipeline exists from the first open: attach before any audio flows.
    // The stopping mode keeps that open from moving on to other files.
    SinkTap tap;
    form->PlayMode = 44;
    control->setFileName(dir + "/a.wav");
    ASSERT_TRUE(waitFor([&] { return !opened.isEmpty(); }));
    control->setFileName("");
    form->PlayMode = 12;
    tap.attach(*control);
    opened.clear();
    pick(0);
    // Three introductions, then the wrap to the first file again.
    ASSERT_TRUE(waitFor([&] { return opened.size() >= 4; })) << opened.join(",").toStdString();
    EXPECT_EQ(opened.mid(0, 4), QStringList({"a", "b", "c", "a"}));
    form->FlatBar1_Click(2);
    // About 0.5 s of each of the three files reached the sink, not 2 s.
    EXPECT_GT(tap.seconds.load(), 1.3);
    EXPECT_LT(tap.seconds.load(), 2.2);
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(EndToEnd, CorruptFileInTheMiddleGivesOneErrorAndStops) {
    ASSERT_FALSE(MakeWav(dir, "a.wav", {0.3}).isEmpty());
    ASSERT_FALSE(MakeFile(dir, "b.mp3", QByteArray("pas du son\n").repeated(100)).isEmpty());
    ASSERT_FALSE(MakeWav(dir, "c.wav", {0.3}).isEmpty());
    load("0");
    pick(0);
    ASSERT_TRUE(waitFor([&] { return !messages.isEmpty(); }));
    QTest::qWait(500);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains("b.mp3")) << messages[0].toStdString();
    EXPECT_EQ(opened, QStringList({"a"}))
        << opened.join(",").toStdString() << messages.join(",").toStdString();
    EXPECT_TRUE(form->isWindowEnabled());
    EXPECT_TRUE(control->FileName().isEmpty());
    // The player is usable again: a pick of the next file plays it.
    // Without continuous play the pick plays c alone.
    form->LectCont->setChecked(false);
    pick(2);
    ASSERT_TRUE(waitFor([&] { return opened.size() >= 2 && control->CurrentState() == 0; }));
    EXPECT_EQ(opened.size(), 2);
    EXPECT_EQ(opened[1], "c");
    EXPECT_EQ(messages.size(), 1);
}

TEST_F(EndToEnd, ContinuousPlayGoesOnWithNoRestartAndShowsEachFile) {
    // Lengths above what playbin reads ahead, so each offer comes in time.
    ASSERT_FALSE(MakeWav(dir, "a.wav", {1.2}).isEmpty());
    ASSERT_FALSE(MakeMp3(dir, "b.mp3", {1.2}).isEmpty());
    ASSERT_FALSE(MakeWav(dir, "c.wav", {1.2}).isEmpty());
    SaveSetting(kApp, "Session", "Path", dir);
    SaveSetting(kApp, "Session", "Mode", "0");
    control = new GstMediaControl(nullptr, silentSinks(true));
    QObject::connect(control, &MediaControl::OpenComplete, control,
                     [this] { opened << Form1::Nom(control->FileName()); });
    form = std::make_unique<Form1>(control);
    form->MsgBox = [this](const QString &text, QMessageBox::Icon, const QString &,
                          QMessageBox::StandardButtons) {
        messages << text;
        return QMessageBox::Ok;
    };
    QStringList titles;
    QObject::connect(control, &MediaControl::StateChange, control, [&](int, int n) {
        if (n == 2)
            titles << form->Label2->text();
    });
    form->Form_Load();
    pick(0);
    ASSERT_TRUE(waitFor([&] { return opened.size() >= 4; })) << opened.join(",").toStdString();
    form->FlatBar1_Click(2);
    EXPECT_EQ(opened.mid(0, 4), QStringList({"a", "b", "c", "a"}));
    EXPECT_GE(control->handOvers(), 3);
    ASSERT_GE(titles.size(), 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(titles[i].startsWith(QString("Tunabel - %1 0'01").arg(QChar("abc"[i]))))
            << titles[i].toStdString();
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_EQ(form->Label2->text(), "Tunabel - Arrêt");
}
