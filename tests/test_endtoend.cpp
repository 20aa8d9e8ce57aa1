// The main window playing real files through the GStreamer control, on a
// silent sink that runs as fast as it can.
#include "platform/gstmediacontrol.h"
#include "platform/settingsstore.h"
#include "player/form1.h"
#include "support/mediafiles.h"
#include "support/sinktap.h"

#include <QDeadlineTimer>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <functional>

namespace {

using testmedia::Tone;

// Spins the event loop until `done`, or fails after a hang guard.
bool waitFor(const std::function<bool()> &done, int ms = 30000) {
    QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(5);
    }
    return true;
}

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

    Form1 *load(const QString &folder, const char *mode) {
        SaveSetting(kApp, "Session", "Path", folder);
        SaveSetting(kApp, "Session", "Mode", mode);
        GstMediaOptions o;
        o.audioSink = "fakesink signal-handoffs=true";
        o.videoSink = "fakesink";
        o.sync = false;
        control = new GstMediaControl(nullptr, o);
        form = std::make_unique<Form1>(control);
        form->MsgBox = [this](const QString &text, QMessageBox::Icon, const QString &) { messages << text; };
        form->InputBox = [](const QString &, const QString &, const QString &) { return QString("1"); };
        QObject::connect(control, &MediaControl::OpenComplete, control,
                         [this] { opened << Form1::Nom(control->FileName()); });
        form->Form_Load();
        return form.get();
    }

    QTemporaryDir tmp;
    GstMediaControl *control = nullptr;
    std::unique_ptr<Form1> form;
    QStringList opened;
    QStringList messages;
};

} // namespace

TEST_F(EndToEnd, ContinuousModePlaysTheFolderThroughToTheWrap) {
    const QString dir = tmp.path() + "/suite";
    QDir().mkpath(dir);
    for (const char *name : {"a.wav", "b.aiff", "c.mid"}) {
        const QString n = name;
        if (n.endsWith(".wav"))
            ASSERT_FALSE(testmedia::MakeWav(dir, n, Tone{0.4}).isEmpty());
        else if (n.endsWith(".aiff"))
            ASSERT_FALSE(testmedia::MakeAiff(dir, n, Tone{0.4}).isEmpty());
        else
            ASSERT_FALSE(testmedia::MakeMidi(dir, n, 0.4).isEmpty());
    }
    Form1 *f = load(dir, "0");
    ASSERT_TRUE(f->LectCont->isChecked());
    ASSERT_TRUE(f->File1->setListIndex(0));
    f->File1_KeyUp(0, 0);
    ASSERT_TRUE(waitFor([&] { return opened.size() >= 4; })) << opened.join(",").toStdString();
    EXPECT_EQ(opened.mid(0, 4), QStringList({"a", "b", "c", "a"}));
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_TRUE(f->isEnabled());
    EXPECT_EQ(f->PlayMode, 0);
    // The user stops: nothing else starts.
    f->FlatBar1_Click(2);
    const int count = int(opened.size());
    QTest::qWait(300);
    EXPECT_EQ(opened.size(), count);
    EXPECT_EQ(f->Label2->text(), "Tunabel - Arrêt");
    EXPECT_TRUE(control->FileName().isEmpty());
}

TEST_F(EndToEnd, IntroductionsStopEachFileAtTheSetLength) {
    const QString dir = tmp.path() + "/intro";
    QDir().mkpath(dir);
    ASSERT_FALSE(testmedia::MakeWav(dir, "a.wav", Tone{2.0}).isEmpty());
    ASSERT_FALSE(testmedia::MakeMp3(dir, "b.mp3", Tone{2.0}).isEmpty());
    ASSERT_FALSE(testmedia::MakeAu(dir, "c.au", Tone{2.0}).isEmpty());
    SaveSetting(kApp, "Intro", "Durée", "0.5");
    Form1 *f = load(dir, "12");
    SinkTap tap;
    // The pipeline exists from the first open; attach before any audio flows.
    control->setFileName(dir + "/a.wav");
    ASSERT_TRUE(waitFor([&] { return opened.size() == 1; }));
    control->setFileName("");
    tap.attach(*control);
    opened.clear();

    ASSERT_TRUE(f->File1->setListIndex(0));
    f->File1_KeyUp(0, 0);
    // Three introductions, then the wrap to the first file again.
    ASSERT_TRUE(waitFor([&] { return opened.size() >= 4; })) << opened.join(",").toStdString();
    EXPECT_EQ(opened.mid(0, 4), QStringList({"a", "b", "c", "a"}));
    f->FlatBar1_Click(2);
    // About 0.5 s of each of the three files reached the sink, not 2 s.
    EXPECT_GT(tap.seconds.load(), 1.3);
    EXPECT_LT(tap.seconds.load(), 2.2);
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(EndToEnd, CorruptFileInTheMiddleGivesOneErrorAndStops) {
    const QString dir = tmp.path() + "/corrupt";
    QDir().mkpath(dir);
    ASSERT_FALSE(testmedia::MakeWav(dir, "a.wav", Tone{0.3}).isEmpty());
    ASSERT_FALSE(testmedia::MakeFile(dir, "b.mp3", QByteArray("pas du son\n").repeated(100)).isEmpty());
    ASSERT_FALSE(testmedia::MakeWav(dir, "c.wav", Tone{0.3}).isEmpty());
    Form1 *f = load(dir, "0");
    ASSERT_TRUE(f->File1->setListIndex(0));
    f->File1_KeyUp(0, 0);
    ASSERT_TRUE(waitFor([&] { return !messages.isEmpty(); }));
    QTest::qWait(500);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains("b.mp3")) << messages[0].toStdString();
    EXPECT_EQ(opened, QStringList({"a"}));
    EXPECT_TRUE(f->isEnabled());
    EXPECT_TRUE(control->FileName().isEmpty());
    // The player is usable again: a pick of the next file plays it.
    ASSERT_TRUE(f->File1->setListIndex(2));
    f->File1_KeyUp(0, 0);
    ASSERT_TRUE(waitFor([&] { return opened.size() == 2; }));
    EXPECT_EQ(opened[1], "c");
    EXPECT_EQ(messages.size(), 1);
}
