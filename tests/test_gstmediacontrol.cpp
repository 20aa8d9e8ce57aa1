// The GStreamer media control against real files and a silent sink.
#include "platform/engine/gstmediacontrol.h"
#include "platform/engine/mpegaudio.h"
#include "platform/filename.h"
#include "support/mediafiles.h"
#include "support/sinktap.h"

#include <QFile>
#include <QTemporaryDir>

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>

namespace {

using Rig = GstRig;

class GstMediaControlTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        using namespace testmedia;
        StartMediaEngine();
        s_dir = new QTemporaryDir;
        const QString d = s_dir->path();
        s_files = {{"wav", MakeWav(d, "ton.wav", {2.0})},
                   {"au", MakeAu(d, "ton.au", {1.0})},
                   {"aiff", MakeAiff(d, "ton.aiff", {1.0})},
                   {"aif", MakeAiff(d, "ton.aif", {1.5, 22050, 1})},
                   {"aifc", MakeAifc(d, "ton.aifc", {1.0})},
                   {"mp3", MakeMp3(d, "ton.mp3", {2.0})},
                   {"mp3-vbr", MakeMp3(d, "vbr.mp3", {2.0}, Mp3Kind::VbrHeaderless)},
                   {"mp3-cbr", MakeMp3(d, "cbr.mp3", {1.0}, Mp3Kind::Cbr192)},
                   {"mp2", MakeMp2(d, "ton.mp2", {1.0})},
                   {"mid", MakeMidi(d, "note.mid", 1.5)},
                   {"mpg", MakeMpeg(d, "film.mpg", {2.0})},
                   {"mpeg", MakeMpeg(d, "film.mpeg", {1.0})},
                   {"long", MakeWav(d, "long.wav", {3.0})},
                   {"text", MakeFile(d, "faux.mp3", QByteArray("ceci n'est pas du son\n").repeated(50))}};
        s_files["cut"] = MakeTruncated(s_files["mp3"], d, "coupé.mp3", 0.5);
    }
    static void TearDownTestSuite() {
        delete s_dir;
        s_dir = nullptr;
    }
    static QString file(const std::string &key) { return s_files.at(key); }

    static inline QTemporaryDir *s_dir = nullptr;
    static inline std::map<std::string, QString> s_files;
};

TEST_F(GstMediaControlTest, EveryTypeOpensOnceWithItsLengthAndPlaysToTheEnd) {
    const std::map<std::string, double> lengths = {
        {"wav", 2.0}, {"au", 1.0},      {"aiff", 1.0},    {"aif", 1.5}, {"aifc", 1.0}, {"mp3", 2.0},
        {"mp2", 1.0}, {"mp3-vbr", 2.0}, {"mp3-cbr", 1.0}, {"mid", 1.5}, {"mpg", 2.0},  {"mpeg", 1.0}};
    Rig r;
    for (const auto &[type, length] : lengths) {
        SCOPED_TRACE(type);
        const int opens = r.opens();
        ASSERT_TRUE(r.open(file(type)));
        const double before = r.tap.seconds.load();
        EXPECT_NEAR(r.c.Duration(), length, 0.05);
        EXPECT_NEAR(r.c.SelectionEnd(), r.c.Duration(), 1e-9);
        ASSERT_TRUE(r.play());
        EXPECT_EQ(r.states.front(), std::make_pair(0, 2));
        EXPECT_NEAR(r.c.CurrentPosition(), length, 0.05);
        EXPECT_NEAR(r.tap.seconds.load() - before, length, 0.1);
        EXPECT_EQ(r.opens() - opens, 1);
    }
    // A cut-off download and video without a display play what they can.
    GstMediaOptions noVideo = silentSinks();
    noVideo.videoSink.clear();
    Rig v(noVideo);
    ASSERT_TRUE(v.open(file("cut")));
    EXPECT_NEAR(v.c.Duration(), 1.0, 0.1);
    ASSERT_TRUE(v.play());
    ASSERT_TRUE(v.open(file("mpeg")));
    ASSERT_TRUE(v.play());
    EXPECT_TRUE(r.errors.empty() && v.errors.empty());
}

// Where the selection ends and how often it plays is the contract's
// (test_mediacontract); here, what is heard: MPEG frames make the end
// hardest, and repeats play without state changes.
TEST_F(GstMediaControlTest, SelectionEndAndPlayCountAreHeard) {
    Rig r;
    ASSERT_TRUE(r.open(file("mp3")));
    r.c.setSelectionEnd(0.7);
    ASSERT_TRUE(r.play());
    EXPECT_NEAR(r.tap.seconds.load(), 0.7, 0.05);
    ASSERT_TRUE(r.play());
    EXPECT_NEAR(r.tap.seconds.load(), 1.4, 0.1);

    Rig w(silentSinks(true));
    ASSERT_TRUE(w.open(file("wav")));
    w.c.setSelectionEnd(0.5);
    w.c.setPlayCount(3);
    ASSERT_TRUE(w.play());
    EXPECT_NEAR(w.tap.seconds.load(), 1.5, 0.1);
}

TEST_F(GstMediaControlTest, RateKeepsForLaterFilesAndAppliesWhilePlaying) {
    Rig r(silentSinks(true));
    r.c.setRate(2.0);
    ASSERT_TRUE(r.open(file("wav")));
    ASSERT_TRUE(r.play());
    // Two seconds at double speed, pitch kept: about one second of output.
    EXPECT_NEAR(r.tap.seconds.load(), 1.0, 0.15);

    r.c.setRate(1.0);
    const double before = r.tap.seconds.load();
    r.states.clear();
    r.c.Run();
    ASSERT_TRUE(waitFor([&] { return r.c.CurrentPosition() > 0.3; }));
    const double switchedAt = r.c.CurrentPosition();
    r.c.setRate(2.0);
    ASSERT_TRUE(waitFor([&] { return r.stopped(); }));
    EXPECT_NEAR(r.tap.seconds.load() - before, switchedAt + (2.0 - switchedAt) / 2, 0.2);
}

TEST_F(GstMediaControlTest, VolumeScalesTheOutputByItsDecibels) {
    for (int volume : {0, -4000, -7000, -10000}) {
        SCOPED_TRACE(volume);
        Rig r;
        r.c.setVolume(volume); // kept with nothing loaded
        ASSERT_TRUE(r.open(file("au")));
        ASSERT_TRUE(r.play());
        const double gain = std::pow(10.0, volume / 2000.0);
        EXPECT_NEAR(r.tap.peak.load(), 0.5 * gain, 0.5 * gain * 0.05);
    }
}

// A volume change right before a pause, a stop or a close is heard before
// the sound is cut; the call itself returns at once, the pipeline following.
TEST_F(GstMediaControlTest, AVolumeChangeIsHeardBeforeAPauseStopOrCloseCuts) {
    Rig r(silentSinks(true));
    GstMediaControl &c = r.c;
    const auto target = [&] { return GST_STATE_TARGET(r.pipeline()); };
    for (const std::string cut : {"pause", "stop", "close"}) {
        SCOPED_TRACE(cut);
        if (c.FileName().isEmpty()) {
            ASSERT_TRUE(r.open(file("long")));
        }
        c.setVolume(0);
        c.Run();
        ASSERT_TRUE(waitFor([&] { return c.CurrentPosition() > 0.2 && c.currentGain() == 1.0; }));
        c.setVolume(-4000);
        if (cut == "pause")
            c.Pause();
        else if (cut == "stop")
            c.Stop();
        else
            c.setFileName("");
        EXPECT_EQ(c.CurrentState(), cut == "pause" ? 1 : 0);
        EXPECT_EQ(target(), GST_STATE_PLAYING) << "the sound was cut inside the call";
        ASSERT_TRUE(waitFor([&] { return target() != GST_STATE_PLAYING; }));
        EXPECT_FLOAT_EQ(float(c.currentGain()), 0.01f) << "cut before the ramp was heard";
    }
}

TEST_F(GstMediaControlTest, MessagesOfAClosedFileNeverArrive) {
    Rig r;
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(r.open(file("au")));
        r.c.Run();
        r.c.Stop(); // the PLAYING and EOS of that run are stale now
        const States afterStop = r.states;
        r.c.setFileName(file("aifc"));
        r.c.setFileName(file("wav")); // replaced before it finished opening
        const int opens = r.opens();
        ASSERT_TRUE(waitFor([&] { return r.opens() > opens; }));
        EXPECT_NEAR(r.c.Duration(), 2.0, 0.05);
        // Played through, anything stale would have come in by its end.
        r.c.Run();
        ASSERT_TRUE(waitFor([&] { return r.states.size() == afterStop.size() + 2; }));
        EXPECT_EQ(r.opens(), opens + 1);
        States played = afterStop;
        played.insert(played.end(), {{0, 2}, {2, 0}});
        EXPECT_EQ(r.states, played);
    }
}

// Films here are MPEG: libav's other picture decoders are not offered to
// playbin (parsing their caps cost 2 MB), while its sound decoders all stay.
TEST_F(GstMediaControlTest, OnlyMpegPictureDecodersOfLibavAreOffered) {
    gstengine::waitReady();
    GstPlugin *libav = gst_registry_find_plugin(gst_registry_get(), "libav");
    if (!libav)
        GTEST_SKIP() << "libav is not installed";
    gst_object_unref(libav);
    const auto offered = [](GstElementFactoryListType media) {
        std::set<std::string> names;
        GList *list = gst_element_factory_list_get_elements(GST_ELEMENT_FACTORY_TYPE_DECODER | media,
                                                            GST_RANK_MARGINAL);
        for (GList *l = list; l; l = l->next)
            if (!g_strcmp0(gst_plugin_feature_get_plugin_name(GST_PLUGIN_FEATURE(l->data)), "libav"))
                names.insert(GST_OBJECT_NAME(l->data));
        gst_plugin_feature_list_free(list);
        return names;
    };
    const std::set<std::string> pictures = offered(GST_ELEMENT_FACTORY_TYPE_MEDIA_VIDEO);
    EXPECT_TRUE(pictures.contains("avdec_mpeg2video") && pictures.contains("avdec_h264"));
    EXPECT_FALSE(pictures.contains("avdec_h263") || pictures.contains("avdec_cinepak"));
    EXPECT_LE(pictures.size(), 6u);
    const std::set<std::string> sounds = offered(GST_ELEMENT_FACTORY_TYPE_MEDIA_AUDIO);
    EXPECT_TRUE(sounds.contains("avdec_aac") && sounds.contains("avdec_adpcm_ima_qt"));
    EXPECT_GT(sounds.size(), 50u);
}

// Left alone, the control builds nothing. At the user's first input it
// prerolls a silent file of its own: nobody may hear of it, and a file opened
// while it runs, or after, is the only one heard.
TEST_F(GstMediaControlTest, TheIdlePrerollWaitsForTheUserAndIsNeverReportedNorHeard) {
    // The preroll is over once the pipeline is taken back down.
    const auto prerolled = [](Rig &r) {
        return waitFor([&] { return GST_STATE_TARGET(r.pipeline()) == GST_STATE_READY; });
    };
    QWidget elsewhere; // any of the player's widgets
    const auto userTurnsUp = [&](Rig &r) {
        QTest::keyClick(&elsewhere, Qt::Key_Down);
        return waitFor([&] { return r.c.audioSinkElement() != nullptr; });
    };
    {
        Rig r;
        gstengine::waitReady();
        QTest::qWait(600);
        EXPECT_EQ(r.pipeline(), nullptr) << "a pipeline built while nobody used the player";
    }
    for (const bool during : {true, false}) {
        SCOPED_TRACE(during);
        Rig r;
        ASSERT_TRUE(userTurnsUp(r));
        if (!during) {
            ASSERT_TRUE(prerolled(r));
        }
        EXPECT_TRUE(r.opens() == 0 && r.states.empty() && r.errors.empty());
        ASSERT_TRUE(r.open(file("wav")));
        EXPECT_TRUE(r.opens() == 1 && r.states.empty());
        EXPECT_NEAR(r.c.Duration(), 2.0, 0.05);
        ASSERT_TRUE(r.play());
        EXPECT_EQ(r.states.front(), std::make_pair(0, 2));
        EXPECT_NEAR(r.tap.seconds.load(), 2.0, 0.1);
        EXPECT_TRUE(r.errors.empty());
    }
    // An output that fails in the preroll fails again for the file: one message.
    GstMediaOptions o = silentSinks();
    o.audioSink = "fakesink state-error=ready-to-paused";
    Rig r(o);
    ASSERT_TRUE(userTurnsUp(r));
    ASSERT_TRUE(prerolled(r));
    EXPECT_TRUE(r.errors.empty());
    r.c.setFileName(file("wav"));
    EXPECT_EQ(r.oneError(), GstMediaControl::NoAudioOutput);
}

// Every message the pipeline posts is released, those the window thread
// handles once handled: each kept one grows memory with every file played.
TEST_F(GstMediaControlTest, BusMessagesAreReleasedOnceHandled) {
    static bool freed[2];
    freed[0] = freed[1] = false;
    const auto onFreed = [](gpointer flag, GstMiniObject *) { *static_cast<bool *>(flag) = true; };
    Rig r;
    ASSERT_TRUE(r.open(file("wav")));
    GstElement *top = r.pipeline();
    GstBus *bus = gst_element_get_bus(top);
    ASSERT_TRUE(bus);
    // One nobody acts on, and one for the window thread (a still paused
    // pipeline, which changes nothing for a stopped file).
    GstMessage *ignored = gst_message_new_application(GST_OBJECT(top), gst_structure_new_empty("essai"));
    GstMessage *handled = gst_message_new_state_changed(GST_OBJECT(top), GST_STATE_PAUSED, GST_STATE_PAUSED,
                                                        GST_STATE_VOID_PENDING);
    gst_mini_object_weak_ref(GST_MINI_OBJECT(ignored), onFreed, &freed[0]);
    gst_mini_object_weak_ref(GST_MINI_OBJECT(handled), onFreed, &freed[1]);
    gst_bus_post(bus, ignored);
    EXPECT_TRUE(freed[0]);
    gst_bus_post(bus, handled);
    EXPECT_TRUE(waitFor([&] { return freed[1]; }, 10000));
    gst_object_unref(bus);
    EXPECT_TRUE(r.states.empty());
    ASSERT_TRUE(r.play());
    EXPECT_TRUE(r.errors.empty());
}

TEST_F(GstMediaControlTest, BadFilesGiveOneErrorAndLeaveTheControlUsable) {
    const QString dir = s_dir->path(), fifo = dir + "/tube.mp3";
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString notRegular = "pas un fichier ordinaire";
    // An AIFF that claims 64 channels or more, whatever its name: libav's
    // demuxer takes it and the converter behind it crashes.
    QFile aiffFile(file("aiff"));
    ASSERT_TRUE(aiffFile.open(QIODevice::ReadOnly));
    QByteArray aiff = aiffFile.readAll();
    aiff[aiff.indexOf("COMM") + 9] = 64;
    const QString tooMany = testmedia::MakeFile(dir, "canaux.aiff", aiff);
    aiff[aiff.indexOf("COMM") + 8] = 2; // 576
    const QString misnamed = testmedia::MakeFile(dir, "canaux.wav", aiff);
    // The same description behind a version chunk that claims to cover it.
    QFile aifcFile(file("aifc"));
    ASSERT_TRUE(aifcFile.open(QIODevice::ReadOnly));
    QByteArray aifc = aifcFile.readAll();
    aifc[aifc.indexOf("FVER") + 6] = '\xfa';
    aifc[aifc.indexOf("COMM") + 9] = '\x9a';
    const QString hidden = testmedia::MakeFile(dir, "cache.aifc", aifc);
    // MIDI events the decoder cannot size make it loop for ever as it
    // measures the song; no ticks per quarter note, for ever as it plays.
    QFile midiFile(file("mid"));
    ASSERT_TRUE(midiFile.open(QIODevice::ReadOnly));
    const QByteArray midi = midiFile.readAll();
    const qsizetype track = midi.indexOf("MTrk") + 8; // tempo (meta), program, note on
    auto midiWith = [&](const char *name, qsizetype at, const QByteArray &bytes) {
        return testmedia::MakeFile(dir, name, QByteArray(midi).replace(at, bytes.size(), bytes));
    };
    const std::vector<std::tuple<QString, int, QString>> cases = {
        {dir + "/absent.mp3", GstMediaControl::NotFound, "introuvable"},
        {tooMany, GstMediaControl::NotRecognised, "pas un fichier son reconnu"},
        {misnamed, GstMediaControl::NotRecognised, "pas un fichier son reconnu"},
        {hidden, GstMediaControl::NotRecognised, "pas un fichier son reconnu"},
        {midiWith("systeme.mid", track + 11, "\xf6"), GstMediaControl::NotRecognised,
         "pas un fichier son reconnu"},
        {midiWith("meta.mid", track + 3, "\x7f"), GstMediaControl::NotRecognised,
         "pas un fichier son reconnu"},
        {midiWith("sysex.mid", track + 1, "\xf0"), GstMediaControl::NotRecognised,
         "pas un fichier son reconnu"},
        {midiWith("division.mid", 12, QByteArray(2, 0)), GstMediaControl::NotRecognised,
         "pas un fichier son reconnu"},
        {dir, GstMediaControl::NotRegularFile, notRegular},
        {fifo, GstMediaControl::NotRegularFile, notRegular},
        {file("text"), GstMediaControl::NotRecognised, "pas un fichier son reconnu"},
    };
    Rig r;
    for (const auto &[path, code, reason] : cases) {
        SCOPED_TRACE(path.toStdString());
        r.states.clear();
        r.c.setFileName(path);
        ASSERT_EQ(r.oneError(), code);
        EXPECT_TRUE(r.errors[0].second.contains("« " + QFileInfo(path).fileName() + " »"));
        EXPECT_TRUE(r.errors[0].second.contains(reason)) << r.errors[0].second.toStdString();
        EXPECT_TRUE(r.c.FileName().isEmpty() && r.c.CurrentState() == 0 && r.states.empty());
        r.errors.clear();
        ASSERT_TRUE(r.open(file("au")));
        ASSERT_TRUE(r.play());
    }
    EXPECT_EQ(r.opens(), int(cases.size()));
}

TEST_F(GstMediaControlTest, FailingOutputsAndSilentEnginesBecomeErrors) {
    const char *broken = "fakesink state-error=ready-to-paused";
    // The stalled sink prerolls only after both attempts gave up.
    for (auto [audio, video, type, code] :
         {std::tuple{"alsasink device=nonexistent", "", "wav", GstMediaControl::NoAudioOutput},
          {broken, "", "wav", GstMediaControl::NoAudioOutput},
          {"", broken, "mpg", GstMediaControl::VideoFailed},
          {"identity sleep-time=1000000 ! fakesink", "", "wav", GstMediaControl::TimedOut}}) {
        SCOPED_TRACE(std::string(audio) + " " + video);
        GstMediaOptions o = silentSinks();
        o.audioSink = *audio ? audio : o.audioSink;
        o.videoSink = *video ? video : o.videoSink;
        o.openTimeoutMs = code == GstMediaControl::TimedOut ? 200 : o.openTimeoutMs;
        Rig r(o);
        r.c.setFileName(file(type));
        r.c.Run();
        ASSERT_EQ(r.oneError(), code);
        EXPECT_TRUE(r.opens() == 0 && r.states.empty() && r.c.FileName().isEmpty());
    }

    // No sound device at all: the automatic output settles for a silent
    // stand-in, which must not pass for a real one.
    std::vector<std::pair<GstPluginFeature *, guint>> demoted;
    GList *sinks = gst_element_factory_list_get_elements(
        GST_ELEMENT_FACTORY_TYPE_SINK | GST_ELEMENT_FACTORY_TYPE_MEDIA_AUDIO, GST_RANK_NONE);
    for (GList *l = sinks; l; l = l->next) {
        auto *feature = GST_PLUGIN_FEATURE(gst_object_ref(l->data));
        demoted.emplace_back(feature, gst_plugin_feature_get_rank(feature));
        gst_plugin_feature_set_rank(feature, GST_RANK_NONE);
    }
    gst_plugin_feature_list_free(sinks);
    {
        GstMediaOptions o = silentSinks();
        o.audioSink = "autoaudiosink";
        Rig r(o);
        r.c.setFileName(file("wav"));
        ASSERT_TRUE(waitFor([&] { return !r.errors.empty(); }));
        EXPECT_EQ(r.errors[0].first, GstMediaControl::NoAudioOutput);
        EXPECT_TRUE(r.errors[0].second.contains("aucune sortie son")) << r.errors[0].second.toStdString();
        EXPECT_EQ(r.opens(), 0);
    }
    for (auto [feature, rank] : demoted) {
        gst_plugin_feature_set_rank(feature, rank);
        gst_object_unref(feature);
    }
}

// Plays like the player: Run at each open complete; at each stop, opens the
// next of the files the test chose for the stopped rule and offers the one after it.
struct Sequencer {
    Rig &r;
    QStringList picks, log;
    explicit Sequencer(Rig &rig) : r(rig) {
        QObject::connect(&r.c, &MediaControl::OpenComplete, [this] {
            log << "complete " + QFileInfo(r.c.FileName()).fileName();
            r.c.Run();
        });
        r.onState = [this](int n) {
            log << QString("state %1").arg(n);
            if (n == 0 && !picks.isEmpty()) {
                r.c.setFileName(picks.takeFirst());
                r.c.setNextFileName(picks.value(0));
            }
        };
    }
};

// The notifications of a hand-over are those of an open (test_mediacontract);
// here, that it happens, into an MP3 at the end. AIFF goes through
// libav, which the offer loads ahead: the switch itself must not wait for
// it. The AIFF files are longer than what playbin reads ahead, so each next
// offer comes in time.
TEST_F(GstMediaControlTest, TheOfferedNextFileFollowsWithNoRestartAiffIncluded) {
    using namespace testmedia;
    const QString d = s_dir->path();
    const QString a = MakeWav(d, "aiff1.wav", {1.0}), b = MakeAiff(d, "aiff2.aiff", {3.0});
    const QString c = MakeAifc(d, "aiff3.aifc", {3.0}), e = MakeMp3(d, "aiff4.mp3", {0.5});
    Rig r(silentSinks(true));
    ASSERT_TRUE(r.open(a, b));
    Sequencer seq(r);
    seq.picks = {b, c, e};
    r.c.Run();
    ASSERT_TRUE(waitFor([&] { return r.c.FileName() == e && r.stopped(); }, 10000))
        << seq.log.join(",").toStdString();
    EXPECT_EQ(r.c.handOvers(), 3) << seq.log.join(",").toStdString();
    EXPECT_NEAR(r.tap.seconds.load(), 7.5, 0.12);
    EXPECT_TRUE(r.errors.empty());
    // The adopted file replays from its start when run again.
    ASSERT_TRUE(r.play());
    EXPECT_NEAR(r.tap.seconds.load(), 7.5 + 0.5, 0.16);
}

TEST_F(GstMediaControlTest, AnOfferNotTakenUpIsNeverHeard) {
    using namespace testmedia;
    const QString d = s_dir->path();
    const QString a = MakeWav(d, "offre1.wav", {0.5}), b = MakeWav(d, "offre2.wav", {0.5});
    const QString c = MakeWav(d, "offre3.wav", {0.5});
    Rig r(silentSinks(true));
    ASSERT_TRUE(r.open(a, b));
    Sequencer seq(r);

    // The rule opens another file than the one offered: that one plays, from its start.
    seq.picks = {c};
    r.c.Run();
    // Both ends: the stop of the first is seen before the second runs.
    ASSERT_TRUE(waitFor([&] {
        return r.c.FileName() == c && std::count(r.states.begin(), r.states.end(), std::make_pair(2, 0)) == 2;
    }));
    EXPECT_EQ(r.opens(), 2);
    EXPECT_EQ(r.c.handOvers(), 0);
    EXPECT_NEAR(r.tap.seconds.load(), 1.0, 0.06);

    // The rule opens nothing: the file stays loaded, stopped at its start;
    // of the offered file at most its first buffer got out.
    ASSERT_TRUE(r.open(c, a));
    ASSERT_TRUE(r.play());
    EXPECT_TRUE(r.c.FileName() == c && r.c.CurrentState() == 0);
    ASSERT_TRUE(r.play());
    EXPECT_NEAR(r.tap.seconds.load(), 1.0 + 2 * 0.5, 0.15);

    // A next file that passes the first look but fails only as playbin
    // switches to it: this one is still heard whole, the rule's open of the
    // next gives one error naming it, and the control plays again afterwards.
    QByteArray trap = QByteArray("RIFF") + QByteArray::fromHex("ff000000") + "WAVEjunk";
    trap += QByteArray::fromHex("08000000") + QByteArray(8, 'x') + QByteArray(200, '\x7f');
    const QString bad = MakeFile(d, "piege.wav", trap);
    ASSERT_TRUE(r.open(file("wav"), bad));
    seq.picks = {bad};
    const double heard = r.tap.seconds.load();
    r.c.Run();
    ASSERT_TRUE(waitFor([&] { return !r.errors.empty() && r.tap.seconds.load() - heard >= 2.0 - 0.06; }));
    EXPECT_NEAR(r.tap.seconds.load() - heard, 2.0, 0.06);
    ASSERT_EQ(r.errors.size(), 1u);
    EXPECT_TRUE(r.errors[0].second.contains("piege.wav")) << r.errors[0].second.toStdString();
    r.errors.clear();
    ASSERT_TRUE(r.open(a));
    ASSERT_TRUE(r.play());
}

// Repetition asked when playbin has already read this file to its end and
// taken the offered one: this file plays again, the offer is never heard.
TEST_F(GstMediaControlTest, RepetitionAskedAfterTheNextFileWasTakenPlaysThisOneAgain) {
    using namespace testmedia;
    const QString d = s_dir->path();
    const QString a = MakeWav(d, "repete1.wav", {0.6}), b = MakeWav(d, "repete2.wav", {0.6});
    Rig r(silentSinks(true));
    ASSERT_TRUE(r.open(a, b));
    r.states.clear();
    r.c.Run();
    // Half-way, the whole of this short file has long been read ahead.
    ASSERT_TRUE(waitFor([&] { return r.c.CurrentPosition() >= 0.3; }));
    r.c.setPlayCount(3);
    ASSERT_TRUE(waitFor([&] { return r.stopped(); }, 10000));
    EXPECT_EQ(r.c.FileName(), a);
    EXPECT_EQ(r.c.handOvers(), 0);
    EXPECT_NEAR(r.tap.seconds.load(), 3 * 0.6, 0.1);
}

// The sound server's answers to caps queries are given again to save its
// round trips: only to the very same question, and each file still gets its own format.
// Loading libav costs the first open of its kind about 200 ms and 30 MB:
// MPEG sound and films decode without it.
TEST_F(GstMediaControlTest, MpegSoundAndFilmsDecodeWithoutLibav) {
    Rig r;
    for (const char *key : {"mp3", "mp2", "mpg"}) {
        ASSERT_TRUE(r.open(file(key))) << key;
        std::vector<std::string> decoders;
        GstIterator *it = gst_bin_iterate_recurse(GST_BIN(r.pipeline()));
        gst_iterator_foreach(
            it,
            [](const GValue *item, gpointer out) {
                GstElementFactory *f = gst_element_get_factory(GST_ELEMENT(g_value_get_object(item)));
                if (f && std::strstr(gst_element_factory_get_metadata(f, GST_ELEMENT_METADATA_KLASS),
                                     "Codec/Decoder"))
                    static_cast<std::vector<std::string> *>(out)->emplace_back(GST_OBJECT_NAME(f));
            },
            &decoders);
        gst_iterator_free(it);
        EXPECT_EQ(decoders.size(), std::string(key) == "mpg" ? 2u : 1u) << key;
        for (const std::string &name : decoders)
            EXPECT_NE(name.rfind("avdec_", 0), 0u) << key << " decoded by " << name;
    }
}

// playbin switches to an offered file on its own thread, where a failure
// can wedge it: only files that start as their kind does are offered.
TEST_F(GstMediaControlTest, OnlyFilesThatStartAsTheirKindMayBeSwitchedTo) {
    using testmedia::MakeFile;
    const QString d = s_dir->path();
    QByteArray au = QByteArray(".snd") + QByteArray::fromHex("00100000") + QByteArray(40, '\0');
    QByteArray wavHeaderOnly = QByteArray("RIFF") + QByteArray(4, '\0') + "WAVEfmt ";
    wavHeaderOnly += QByteArray(44 - wavHeaderOnly.size(), '\0');
    // The cut file holds whole frames up to the cut.
    for (const char *key : {"wav", "au", "aiff", "aif", "aifc", "mp3", "mp3-vbr", "mp2", "cut"})
        EXPECT_TRUE(gstengine::looksLikeItsKind(file(key))) << key;
    // AIFF: its description, then its data, must be there and hold sound.
    QFile aiffFile(file("aiff"));
    ASSERT_TRUE(aiffFile.open(QIODevice::ReadOnly));
    const QByteArray aiff = aiffFile.readAll();
    const qsizetype comm = aiff.indexOf("COMM"), ssnd = aiff.indexOf("SSND");
    ASSERT_TRUE(comm > 0 && ssnd > comm);
    QByteArray silent = aiff, liar = aiff, fast = aiff;
    silent[comm + 8] = silent[comm + 9] = 0;  // no channel
    liar[comm + 4] = liar[comm + 5] = '\x7f'; // a description longer than the file
    fast[comm + 16] = '\x70';                 // a rate of 2^12000 Hz
    // These stalled the switch with no error (an open plays or refuses them).
    QFile aifcFile(file("aifc"));
    ASSERT_TRUE(aifcFile.open(QIODevice::ReadOnly));
    const QByteArray aifc = aifcFile.readAll();
    const QByteArray unknownCoding = QByteArray(aifc).replace("NONE", "XXXX");
    for (const QString &path :
         {file("text"), MakeFile(d, "entete.aiff", aiff.left(ssnd)),
          MakeFile(d, "sansdonnees.aiff", aiff.left(ssnd + 16)), MakeFile(d, "muet.aiff", silent),
          MakeFile(d, "menteur.aif", liar), MakeFile(d, "rapide.aiff", fast),
          MakeFile(d, "coupe.aiff", aiff.chopped(100)), MakeFile(d, "inconnu.aifc", unknownCoding),
          MakeFile(d, "texte.wav", QByteArray("RIFF mais pas du son").repeated(10)),
          MakeFile(d, "vide.wav", {}), MakeFile(d, "entete.wav", wavHeaderOnly),
          MakeFile(d, "decale.au", au), // data offset past the end
          MakeFile(d, "bruit.mp2", QByteArray(4096, '\x55'))})
        EXPECT_FALSE(gstengine::looksLikeItsKind(path)) << path.toStdString();
}

// The frame walk's answer is kept for the file it walked, not for its name.
TEST_F(GstMediaControlTest, AFileReplacedUnderTheSameNameIsWalkedAgain) {
    const QString path = testmedia::MakeMp3(s_dir->path(), "meme.mp3", {2.0});
    EXPECT_NEAR(MpegAudioDuration(path), 2.0, 0.05);
    ASSERT_FALSE(testmedia::MakeMp3(s_dir->path(), "meme.mp3", {1.0}).isEmpty());
    EXPECT_NEAR(MpegAudioDuration(path), 1.0, 0.05);
    QFile::resize(path, 0);
    EXPECT_LT(MpegAudioDuration(path), 0);
}

TEST_F(GstMediaControlTest, NamesThatAreNotUtf8OpenPlayAndAreNamedReadably) {
    // "été.au" and "café.mp3" written in Latin-1: bytes, not UTF-8.
    const QByteArray dir = QFile::encodeName(s_dir->path());
    const QByteArray wav = dir + "/\xe9t\xe9.au", text = dir + "/caf\xe9.mp3";
    ASSERT_EQ(::rename(QFile::encodeName(file("au")).constData(), wav.constData()), 0);
    ASSERT_EQ(::link(QFile::encodeName(file("text")).constData(), text.constData()), 0);
    const QString carried = DecodeFileName(wav);
    ASSERT_TRUE(HasEscapedBytes(carried));
    Rig r;
    ASSERT_TRUE(r.open(carried)) << (r.errors.empty() ? "" : r.errors[0].second.toStdString());
    EXPECT_NEAR(r.c.Duration(), 1.0, 0.05);
    ASSERT_TRUE(r.play());
    EXPECT_NEAR(r.tap.seconds.load(), 1.0, 0.1);
    EXPECT_EQ(r.c.FileName(), carried);
    // A bad file under such a name is named as the user reads it.
    r.c.setFileName(DecodeFileName(text));
    ASSERT_TRUE(waitFor([&] { return !r.errors.empty(); }));
    EXPECT_TRUE(r.errors[0].second.contains("« café.mp3 »")) << r.errors[0].second.toStdString();
    // Qt's own removal of the folder cannot name these.
    EXPECT_EQ(::rename(wav.constData(), QFile::encodeName(file("au")).constData()), 0);
    EXPECT_EQ(::unlink(text.constData()), 0);
}

} // namespace
