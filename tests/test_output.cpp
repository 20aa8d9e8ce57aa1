// The sound-server output as heard: a private server with a null sink plays
// what the media control sends, and its monitor is recorded. Every sample of
// these files says where in its file it belongs, so the recording tells what
// was lost, repeated or left over from the previous file.
#include "platform/engine/engine.h"
#include "platform/engine/pulseoutput.h"
#include "support/mediafiles.h"
#include "support/sinktap.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <set>

#include <sys/resource.h>
#include <unistd.h>

namespace {

constexpr int kRate = 44100;
constexpr int kStep = 441; // 10 ms: one value per step
constexpr qint16 kOldFile = -5000;
constexpr qint16 kOtherFormat = -9000;

// A WAV of the given 16-bit frames (every channel the same), stored as 8-,
// 16- or 24-bit PCM or as 32-bit float (bits 32): each holds them exactly.
QString writeWav(const QString &dir, const QString &name, const std::vector<qint16> &frames, int rate,
                 int channels, int bits = 16) {
    QByteArray data;
    for (qint16 v : frames) {
        QByteArray sample;
        if (bits == 8) {
            sample.append(char(quint8((v >> 8) + 128)));
        } else if (bits == 24) {
            const qint32 wide = qint32(v) * 256;
            sample = QByteArray(reinterpret_cast<const char *>(&wide), 3);
        } else if (bits == 32) {
            const float f = float(v) / 32768.0f;
            sample = QByteArray(reinterpret_cast<const char *>(&f), 4);
        } else {
            sample = QByteArray(reinterpret_cast<const char *>(&v), 2);
        }
        data.append(sample.repeated(channels));
    }
    auto u32 = [](quint32 v) { return QByteArray(reinterpret_cast<const char *>(&v), 4); };
    auto u16 = [](quint16 v) { return QByteArray(reinterpret_cast<const char *>(&v), 2); };
    const int block = channels * bits / 8;
    const QByteArray wav = "RIFF" + u32(quint32(36 + data.size())) + "WAVEfmt " + u32(16) +
                           u16(bits == 32 ? 3 : 1) + u16(quint16(channels)) + u32(quint32(rate)) +
                           u32(quint32(rate * block)) + u16(quint16(block)) + u16(quint16(bits)) + "data" +
                           u32(quint32(data.size())) + data;
    QFile f(dir + "/" + name);
    if (!f.open(QIODevice::WriteOnly) || f.write(wav) != wav.size())
        return {};
    return f.fileName();
}

// Step n (0-based) holds the value unit * (n + 1).
std::vector<qint16> staircase(int steps, int unit = 200) {
    std::vector<qint16> frames;
    for (int n = 0; n < steps; ++n)
        frames.insert(frames.end(), kStep, qint16(unit * (n + 1)));
    return frames;
}

// A private system bus for this process, set before anything dials one: the
// real-time test stands the desktop's real-time service in on it.
class PrivateSystemBus : public ::testing::Environment {
public:
    static inline QString address;
    QTemporaryDir dir;
    QProcess daemon;

    void SetUp() override {
        daemon.start(QStandardPaths::findExecutable("dbus-daemon"),
                     {"--session", "--nofork", "--nopidfile", "--print-address",
                      "--address=unix:path=" + dir.path() + "/system_bus_socket"});
        if (daemon.waitForStarted() && daemon.waitForReadyRead(10000))
            address = QString::fromLocal8Bit(daemon.readLine()).trimmed();
        if (!address.isEmpty())
            qputenv("DBUS_SYSTEM_BUS_ADDRESS", address.toLocal8Bit());
    }
    void TearDown() override {
        daemon.kill();
        daemon.waitForFinished(5000);
    }
};
const auto *const g_systemBus = ::testing::AddGlobalTestEnvironment(new PrivateSystemBus);

// Stands in for the real-time service: records each request.
class RealtimeStandIn : public QDBusVirtualObject {
public:
    struct Request {
        quint64 pid, thread;
        quint32 priority;
        bool threadAlive;
    };
    std::vector<Request> requests;

    QString introspect(const QString &) const override { return {}; }
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override {
        const QVariantList args = message.arguments();
        if (message.member() != "MakeThreadRealtimeWithPID" || args.size() != 3)
            return false;
        const quint64 thread = args[1].toULongLong();
        requests.push_back({args[0].toULongLong(), thread, args[2].toUInt(),
                            QFile::exists(QString("/proc/self/task/%1").arg(thread))});
        connection.send(message.createReply());
        return true;
    }
};

class ServerOutputTest : public ::testing::Test {
public:
    QTemporaryDir dir;
    QProcess server, recorder;
    QString address, daemon;
    QProcessEnvironment env;

    void startServer() {
        server.setProcessEnvironment(env);
        server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        server.start(daemon, {"-n", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit",
                              "--load=module-native-protocol-unix socket=" + dir.path() + "/run/server",
                              "--load=module-null-sink sink_name=out rate=44100"});
        ASSERT_TRUE(server.waitForStarted());
        ASSERT_TRUE(waitFor([&] { return QFile::exists(dir.path() + "/run/server"); }, 10000));
    }

    void SetUp() override {
        daemon = QStandardPaths::findExecutable("pulseaudio");
        const QString parec = QStandardPaths::findExecutable("parec");
        ASSERT_FALSE(daemon.isEmpty() || parec.isEmpty())
            << "pulseaudio and parec are installed by install-deps";
        QDir().mkpath(dir.path() + "/run");
        QFile::setPermissions(dir.path() + "/run", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", dir.path());
        env.insert("XDG_RUNTIME_DIR", dir.path() + "/run");
        env.remove("PULSE_SERVER");
        address = "unix:" + dir.path() + "/run/server";
        startServer();
        if (!HasFatalFailure())
            startRecorder();
    }

    void startRecorder() {
        recorder.setProcessEnvironment(env);
        recorder.start(QStandardPaths::findExecutable("parec"),
                       {"--server=" + address, "--device=out.monitor", "--format=s16le", "--rate=44100",
                        "--channels=1", "--latency-msec=10", "--raw"});
        ASSERT_TRUE(recorder.waitForStarted());
        // Recording once the monitor's silence comes through.
        ASSERT_TRUE(waitFor([&] { return recorder.bytesAvailable() > 0; }, 10000));
    }

    // How many steps of a staircase, each `unit` times its number, were heard
    // whole and in order from the first.
    int wholeStepsHeard(int unit) {
        int steps = 0;
        for (auto [value, frames] : heardRuns())
            steps += std::abs(value - unit * (steps + 1)) <= 2 && frames == kStep;
        return steps;
    }

    void TearDown() override {
        for (QProcess *p : {&recorder, &server}) {
            p->terminate();
            if (!p->waitForFinished(5000))
                p->kill();
            p->waitForFinished(5000);
        }
    }

    GstMediaOptions options() {
        GstMediaOptions o;
        o.audioSink = "pulsesink server=" + address;
        o.videoSink = "fakesink";
        return o;
    }

    // What was heard: runs of equal samples, silence left out. The monitor
    // hands the sound on a little after it is played, and on a busy machine
    // the recorder reads it later still: stop once the sound heard is
    // followed by 50 ms of silence, not as soon as the file has ended.
    std::vector<std::pair<int, int>> heardRuns() {
        waitFor(
            [&] {
                const QByteArray raw = recorder.peek(recorder.bytesAvailable());
                const auto *s = reinterpret_cast<const qint16 *>(raw.constData());
                const qsizetype n = raw.size() / 2, tail = kRate / 20;
                return n > tail && std::all_of(s + n - tail, s + n, [](qint16 v) { return v == 0; }) &&
                       std::any_of(s, s + n - tail, [](qint16 v) { return v != 0; });
            },
            5000);
        recorder.terminate();
        recorder.waitForFinished(5000);
        const QByteArray raw = recorder.readAllStandardOutput();
        std::vector<std::pair<int, int>> runs; // value, frames
        const auto *s = reinterpret_cast<const qint16 *>(raw.constData());
        for (qsizetype i = 0; i < raw.size() / 2; ++i) {
            if (s[i] == 0)
                continue;
            if (!runs.empty() && std::abs(runs.back().first - s[i]) <= 1)
                ++runs.back().second;
            else
                runs.emplace_back(s[i], 1);
        }
        return runs;
    }
};

} // namespace

// One stream serves every file of a format; each file is heard whole from its
// first sample, after a click, a pause and a seek, and nothing of the file
// before it is heard once it has started.
TEST_F(ServerOutputTest, OneKeptStreamPlaysEveryFileWholeAndNothingStale) {
    const QString old = writeWav(dir.path(), "old.wav", std::vector<qint16>(kRate, kOldFile), kRate, 2);
    const QString stairs = writeWav(dir.path(), "stairs.wav", staircase(50), kRate, 2);
    const QString other =
        writeWav(dir.path(), "other.wav", std::vector<qint16>(kRate * 3 / 20, kOtherFormat), kRate / 2, 1);
    ASSERT_FALSE(old.isEmpty() || stairs.isEmpty() || other.isEmpty());

    GstRig p(options());
    const int created = pulseoutput::streamsCreated();
    ASSERT_TRUE(p.open(old));
    ASSERT_TRUE(p.runUntil(0.3));
    // Clicked while the old file plays.
    ASSERT_TRUE(p.open(stairs));
    ASSERT_TRUE(p.play());
    EXPECT_EQ(pulseoutput::streamsCreated(), created + 1) << "the same format reuses the stream";
    ASSERT_TRUE(p.open(other));
    ASSERT_TRUE(p.play());
    EXPECT_EQ(pulseoutput::streamsCreated(), created + 2) << "another format has its own";
    // Paused and resumed, then sent back to 0.1 s.
    ASSERT_TRUE(p.open(stairs));
    ASSERT_TRUE(p.runUntil(0.15));
    p.c.Pause();
    ASSERT_TRUE(waitFor([&] { return p.lastIs(kMediaRunning, kMediaPaused); }));
    ASSERT_TRUE(p.runUntil(0.3));
    p.c.setCurrentPosition(0.1);
    ASSERT_TRUE(waitFor([&] { return p.stopped() || !p.errors.empty(); }));
    ASSERT_TRUE(p.errors.empty());

    const auto runs = heardRuns();
    // Steps of each staircase in the order heard, pause splits joined.
    std::vector<std::vector<std::pair<int, int>>> plays;
    int lastValue = 0, otherFrames = 0;
    bool staleAfterClick = false;
    for (auto [value, frames] : runs) {
        if (value == kOldFile) {
            staleAfterClick = staleAfterClick || !plays.empty();
        } else if (std::abs(value - kOtherFormat) < 300) {
            otherFrames += frames;
            lastValue = 0;
        } else if (value >= 150 && std::abs(value - (value + 100) / 200 * 200) <= 2) {
            const int step = (value + 100) / 200 - 1;
            if (plays.empty() || lastValue == 0)
                plays.emplace_back();
            if (!plays.back().empty() && plays.back().back().first == step)
                plays.back().back().second += frames;
            else
                plays.back().emplace_back(step, frames);
            lastValue = value;
        } else if (plays.size() == 1) {
            // The server's resampler rings at the edges of the other format.
        } else {
            ADD_FAILURE() << "unexpected sample value " << value << " x" << frames;
        }
    }
    EXPECT_FALSE(staleAfterClick) << "the old file went on after the click";
    // The other format, resampled by the server, heard about whole.
    EXPECT_NEAR(otherFrames, kRate * 3 / 10, kRate / 50);

    ASSERT_EQ(plays.size(), 2u);
    const auto &first = plays[0];
    ASSERT_EQ(first.size(), 50u);
    for (int n = 0; n < 50; ++n)
        EXPECT_EQ(first[n], std::make_pair(n, kStep)) << "first play, step " << n;

    // The second play: 0, 1, ... k, then 10 ... 49 after the seek; every step
    // whole except the one the seek cut.
    const auto &second = plays[1];
    size_t cut = 0;
    while (cut + 1 < second.size() && second[cut + 1].first == second[cut].first + 1)
        ++cut;
    ASSERT_LT(cut + 1, second.size()) << "no seek heard";
    ASSERT_GE(second[cut].first, 15) << "the seek came after 0.3 s";
    // A cork takes back what the null sink had mixed ahead (up to its 10 ms
    // latency) and plays it again on resume: a sound card never played it,
    // but the monitor recorded it. So the step of the pause may be heard up
    // to 12 ms longer here; never shorter.
    int longer = 0;
    for (size_t i = 0; i < cut; ++i) {
        EXPECT_EQ(second[i].first, int(i));
        EXPECT_GE(second[i].second, kStep) << "before the seek, step " << i;
        EXPECT_LE(second[i].second, kStep + kRate * 12 / 1000) << "before the seek, step " << i;
        longer += second[i].second > kStep;
    }
    EXPECT_LE(longer, 1);
    std::string heard;
    for (auto [step, frames] : second)
        heard += std::to_string(step) + ":" + std::to_string(frames) + " ";
    ASSERT_EQ(second.size() - cut - 1, 40u) << heard;
    for (size_t i = cut + 1; i < second.size(); ++i)
        EXPECT_EQ(second[i], std::make_pair(int(i - cut - 1 + 10), kStep)) << "after the seek, index " << i;
}

// A sound server restarted mid-track, as a desktop restarts its own: the file
// goes on through a new connection from where it was, with no error. One
// that stays away is reported once as a missing output, and the next file
// plays once it is back.
TEST_F(ServerOutputTest, AServerRestartedMidTrackIsFollowedAndOneGoneIsReported) {
    const QString stairs = writeWav(dir.path(), "stairs.wav", staircase(200, 100), kRate, 2);
    ASSERT_FALSE(stairs.isEmpty());
    GstRig p(options());
    auto killServer = [&] {
        server.kill();
        server.waitForFinished(5000);
        QFile::remove(dir.path() + "/run/server");
        recorder.waitForFinished(5000);
    };
    ASSERT_TRUE(p.open(stairs));
    ASSERT_TRUE(p.runUntil(0.5));
    const size_t before = p.states.size();
    killServer();
    const int killedAt = int(p.c.CurrentPosition() * 100); // in steps
    // Back a moment later; its first block then takes two more before
    // anything is heard: the file is held, not ended. The output waits 1.5 s
    // from the kill; a loaded machine may take most of that to reap the old
    // server and start the new one (seen once after a one-second absence).
    waitFor([] { return false; }, 300);
    startServer();
    startRecorder();
    ASSERT_TRUE(waitFor([&] { return p.stoppedSince(before) || !p.errors.empty(); }));
    EXPECT_TRUE(p.errors.empty()) << p.errors[0].first << " " << p.errors[0].second.toStdString();
    // Heard again from about where it was (what the old server held is
    // lost), every later step whole and in order to the end.
    const auto runs = heardRuns();
    ASSERT_GE(runs.size(), 2u);
    const int resumed = (runs[1].first + 50) / 100 - 1;
    EXPECT_GE(resumed, killedAt - 15) << "started again from the beginning";
    EXPECT_LE(resumed, killedAt + 50) << "skipped ahead while the server was away";
    for (size_t i = 1; i < runs.size(); ++i) {
        EXPECT_EQ(runs[i], std::make_pair(100 * (resumed + int(i)), kStep)) << "after the restart, run " << i;
        if (HasFailure())
            break;
    }

    ASSERT_TRUE(p.open(stairs));
    ASSERT_TRUE(p.runUntil(0.3));
    killServer();
    ASSERT_TRUE(waitFor([&] { return !p.errors.empty(); }));
    ASSERT_EQ(p.errors.size(), 1u);
    EXPECT_EQ(p.errors[0].first, GstMediaControl::NoAudioOutput);
    startServer();
    startRecorder();
    p.errors.clear();
    ASSERT_TRUE(p.open(stairs));
    ASSERT_TRUE(p.play());
    EXPECT_EQ(wholeStepsHeard(100), 200);
}

// A 440 Hz half-scale tone from frame `from` (at 44.1 kHz) for `frames`
// frames at `rate`: pieces of one tone, whatever their rates.
std::vector<qint16> tonePiece(int from, int frames, int rate) {
    std::vector<qint16> tone;
    const double start = double(from) / kRate;
    for (int n = 0; n < frames; ++n)
        tone.push_back(qint16(std::lround(16383 * std::sin(2 * M_PI * 440 * (start + double(n) / rate)))));
    return tone;
}

// The chain played on as the player does (the next file offered at each
// open, given at each end), and how it was heard: the longest quiet run
// inside the tone and the samples from its first loud one to its last.
struct ChainHeard {
    int handOvers = 0;
    int longestQuiet = 0;
    qsizetype length = 0;
};

ChainHeard playChain(ServerOutputTest &t, const QStringList &paths) {
    GstRig p(t.options());
    int at = 0;
    const int files = int(paths.size());
    QObject::connect(&p.c, &MediaControl::OpenComplete, [&] { p.c.Run(); });
    QObject::connect(&p.c, &MediaControl::StateChange, [&](int, int n) {
        if (n == 0 && ++at < files) {
            p.c.setFileName(paths[at]);
            p.c.setNextFileName(paths.value(at + 1));
        }
    });
    p.c.setFileName(paths[0]);
    p.c.setNextFileName(paths[1]);
    ChainHeard heard;
    const bool ended = waitFor([&] {
        return std::count_if(p.states.begin(), p.states.end(),
                             [](auto s) { return s.second == kMediaStopped; }) == files ||
               !p.errors.empty();
    });
    EXPECT_TRUE(ended && p.errors.empty());
    heard.handOvers = p.c.handOvers();
    t.recorder.terminate();
    t.recorder.waitForFinished(5000);
    const QByteArray raw = t.recorder.readAllStandardOutput();
    const auto *s = reinterpret_cast<const qint16 *>(raw.constData());
    const qsizetype n = raw.size() / 2;
    // A half-scale 440 Hz sine crosses -40 dBFS within a sample: 22 quiet
    // samples in a row (0.5 ms) are a hole, not the tone.
    auto loud = [&](qsizetype i) { return std::abs(int(s[i])) > 327; };
    qsizetype begin = 0, end = n;
    while (begin < n && !loud(begin))
        ++begin;
    while (end > begin && !loud(end - 1))
        --end;
    for (qsizetype i = begin, run = 0; i < end; ++i) {
        run = loud(i) ? 0 : run + 1;
        heard.longestQuiet = std::max(heard.longestQuiet, int(run));
    }
    heard.length = end - begin;
    return heard;
}

// A WAV, then two files encoded by `encode` (from a WAV to the path given)
// from the next pieces of one tone; `total` gets the tone's length. The
// middle file is longer than what playbin reads ahead.
QStringList encodedChain(const QString &dir, const QString &suffix,
                         const std::function<bool(const QString &, const QString &)> &encode, int *total) {
    constexpr int kPiece[] = {kRate, 3 * kRate, kRate};
    QStringList paths;
    *total = 0;
    for (int i = 0; i < 3; ++i) {
        const QString wav =
            writeWav(dir, QString("p%1.wav").arg(i), tonePiece(*total, kPiece[i], kRate), kRate, 2);
        *total += kPiece[i];
        const QString out = dir + QString("/p%1.").arg(i) + suffix;
        if (wav.isEmpty() || (i > 0 && !encode(wav, out)))
            return {};
        paths << (i == 0 ? wav : out);
    }
    return paths;
}

// ffmpeg encoding a WAV with the given codec, as its users' files are made.
std::function<bool(const QString &, const QString &)> byFfmpeg(const char *codec) {
    return [codec](const QString &wav, const QString &out) {
        return QProcess::execute(QStandardPaths::findExecutable("ffmpeg"),
                                 {"-loglevel", "error", "-nostdin", "-y", "-i", wav, "-c:a", codec, out}) ==
               0;
    };
}

// MP3 made by lame, whose tag tells the encoder's delay and padding: a WAV
// then two MP3 cut from one tone, played on, are heard as that one tone,
// with no silence where the MP3 start or end and no sample more or less.
// AAC in MP4 joins sample-exact too, whether an edit list gives the delay
// (as ffmpeg writes it) or an iTunSMPB tag (as the music stores do). MP2
// carries no tag (its filter banks' delay of 481 samples is trimmed at each
// file's start) and joins with no silence; its decoder loses part of a last
// frame (ffmpeg's encoder drops the delay's tail), which no one hears.
TEST_F(ServerOutputTest, EncodedFilesJoinSeamless) {
    const QString lame = QStandardPaths::findExecutable("lame");
    ASSERT_FALSE(lame.isEmpty() || QStandardPaths::findExecutable("ffmpeg").isEmpty())
        << "lame and ffmpeg are installed by install-deps";
    const std::function<bool(const QString &, const QString &)> byLame = [&](const QString &wav,
                                                                             const QString &mp3) {
        return QProcess::execute(lame, {"--quiet", wav, mp3}) == 0;
    };
    // No edit list; the tag says ffmpeg's 1,024 samples of priming and the
    // WAV's length (16-bit stereo after a 44-byte header).
    const std::function<bool(const QString &, const QString &)> byStore = [&](const QString &wav,
                                                                              const QString &m4a) {
        return QProcess::execute(QStandardPaths::findExecutable("ffmpeg"),
                                 {"-loglevel", "error", "-nostdin", "-y", "-i", wav, "-c:a", "aac",
                                  "-use_editlist", "0", m4a}) == 0 &&
               testmedia::AddStoreTag(m4a, 1024, uint64_t(QFileInfo(wav).size() - 44) / 4);
    };
    const struct {
        const char *suffix;
        std::function<bool(const QString &, const QString &)> encode;
        int samplesOff; // how far the heard length may be from the tone's
    } kinds[] = {{"mp3", byLame, 40},
                 {"m4a", byFfmpeg("aac"), 3},
                 {"m4a", byStore, 3},
                 {"mp2", byFfmpeg("mp2"), 1152}};
    for (const auto &kind : kinds) {
        SCOPED_TRACE(testing::Message() << kind.suffix << " #" << (&kind - kinds));
        int total = 0;
        const QStringList paths = encodedChain(dir.path(), kind.suffix, kind.encode, &total);
        ASSERT_EQ(paths.size(), 3);
        if (recorder.state() == QProcess::NotRunning)
            startRecorder(); // the chain before ended its recording
        const ChainHeard heard = playChain(*this, paths);
        EXPECT_EQ(heard.handOvers, 2);
        EXPECT_LT(heard.longestQuiet, 22) << "a silence heard inside the tone";
        // Untrimmed, each file would add its priming, 481 to over 1,000 samples.
        EXPECT_NEAR(heard.length, total, kind.samplesOff) << "samples heard against the tone's";
    }
}

// Files of one chain at other rates (Opus decodes at 48 kHz, a CD rip is at
// 44.1): the output goes on at the rate it plays, the next file resampled,
// instead of draining and opening a new stream on the server, heard as a
// hole. Short files too: what follows one is offered before it is heard, and
// a run of them longer than the stall watch's two seconds is not taken for a
// stalled file.
TEST_F(ServerOutputTest, AChainAcrossRatesAndShortFilesIsHeardWhole) {
    constexpr int kFiles = 12;
    QStringList paths;
    int first = 0;
    for (int i = 0; i < kFiles; ++i) {
        const bool longOne = i == 0 || i == kFiles - 1;
        const int frames44k = longOne ? kRate : kRate / 4, rate = i % 2 ? 48000 : kRate;
        const int frames = int(qint64(frames44k) * rate / kRate);
        paths << writeWav(dir.path(), QString("r%1.wav").arg(i, 2, 10, QChar('0')),
                          tonePiece(first, frames, rate), rate, 2);
        ASSERT_FALSE(paths.last().isEmpty());
        first += frames44k;
    }
    const ChainHeard heard = playChain(*this, paths);
    EXPECT_EQ(heard.handOvers, kFiles - 1);
    EXPECT_LT(heard.longestQuiet, 22) << "a silence heard inside the tone";
    // The resampler may round each join by a few samples.
    EXPECT_NEAR(heard.length, first, 64) << "samples heard against the tone's";
}

// The volume is applied by the output as it writes: every sample of the file
// comes out at the level asked, from the first.
// A change of speed is a flushing seek. Kept playing through it, the output
// plays what the server holds until the new samples replace it, though they
// come 20 ms late; without, the hole is those 20 ms. At most one output
// segment of silence may still come first, when the new samples were placed
// one segment on in the ring buffer (seen once in about 60 runs).
TEST_F(ServerOutputTest, AFlushKeptPlayingIsNotSilentWhileTheNewSamplesAreMade) {
    const QString stairs = writeWav(dir.path(), "stairs.wav", staircase(120), kRate, 2);
    ASSERT_FALSE(stairs.isEmpty());
    gstengine::waitReady();
    auto longestHole = [&](bool keep) {
        const QString line = "filesrc location=\"" + stairs + "\" ! wavparse ! identity name=late ! " +
                             "audioconvert ! tunabelpulsesink name=out server=\"" + address +
                             "\" buffer-time=60000 latency-time=10000";
        GstElement *pipeline = gst_parse_launch(line.toUtf8().constData(), nullptr);
        if (!pipeline)
            return -1;
        GstElement *late = gst_bin_get_by_name(GST_BIN(pipeline), "late");
        GstElement *out = gst_bin_get_by_name(GST_BIN(pipeline), "out");
        GstPad *pad = gst_element_get_static_pad(late, "src");
        auto *flushed = new std::atomic<bool>(false);
        gst_pad_add_probe(
            pad, GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_FLUSH),
            [](GstPad *, GstPadProbeInfo *info, gpointer data) {
                auto *after = static_cast<std::atomic<bool> *>(data);
                if (info->type & GST_PAD_PROBE_TYPE_EVENT_FLUSH)
                    after->store(GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) == GST_EVENT_FLUSH_STOP);
                else if (after->exchange(false))
                    g_usleep(20 * 1000);
                return GST_PAD_PROBE_OK;
            },
            flushed, [](gpointer p) { delete static_cast<std::atomic<bool> *>(p); });
        gst_object_unref(pad);
        gst_object_unref(late);
        gint64 at = 0;
        GstBus *bus = gst_element_get_bus(pipeline);
        gst_element_set_state(pipeline, GST_STATE_PLAYING);
        // Waits that keep the recorder read (the event loop turns).
        bool ok = waitFor([&] {
            return gst_element_query_position(pipeline, GST_FORMAT_TIME, &at) && at > 300 * GST_MSECOND;
        });
        if (ok) {
            EXPECT_TRUE(pulseoutput::keepPlayingThroughFlush(out, keep));
            ok = gst_element_seek_simple(pipeline, GST_FORMAT_TIME,
                                         GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE),
                                         GstClockTime(at));
            pulseoutput::keepPlayingThroughFlush(out, false);
        }
        GstMessage *end = nullptr;
        ok = ok && waitFor([&] {
                 return (end = gst_bus_pop_filtered(
                             bus, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR))) != nullptr;
             });
        ok = ok && GST_MESSAGE_TYPE(end) == GST_MESSAGE_EOS;
        if (end)
            gst_message_unref(end);
        gst_object_unref(bus);
        gst_element_set_state(pipeline, GST_STATE_NULL);
        gst_object_unref(out);
        gst_object_unref(pipeline);
        // The longest silence between the first and the last sound.
        recorder.terminate();
        recorder.waitForFinished(5000);
        const QByteArray raw = recorder.readAllStandardOutput();
        const auto *s = reinterpret_cast<const qint16 *>(raw.constData());
        const qsizetype n = raw.size() / 2;
        qsizetype first = 0, last = n - 1;
        while (first < n && s[first] == 0)
            ++first;
        while (last > first && s[last] == 0)
            --last;
        int longest = 0, run = 0;
        for (qsizetype i = first; i <= last; ++i) {
            run = s[i] == 0 ? run + 1 : 0;
            longest = std::max(longest, run);
        }
        return ok ? longest : -1;
    };
    const int kept = longestHole(true);
    startRecorder();
    const int dropped = longestHole(false);
    EXPECT_GE(kept, 0);
    EXPECT_LE(kept, kRate / 100) << "a hole where the speed changed";
    EXPECT_GE(dropped, kRate / 50) << "the flush itself left no hole: this test proves nothing";
}

TEST_F(ServerOutputTest, TheVolumeReachesEverySample) {
    const QString stairs = writeWav(dir.path(), "stairs.wav", staircase(30), kRate, 2);
    ASSERT_FALSE(stairs.isEmpty());
    GstRig p(options());
    p.c.setVolume(-602); // half the amplitude
    ASSERT_TRUE(p.open(stairs));
    ASSERT_TRUE(p.play());
    EXPECT_EQ(wholeStepsHeard(100), 30);
}

// Whatever the file's sample format and channel count, every sample reaches
// the server in order and at its rate: each 10 ms step is heard whole and at
// its level (six channels mixed down by the server, within a rounding).
TEST_F(ServerOutputTest, EverySampleFormatAndChannelCountIsHeardWhole) {
    constexpr int kUnit = 256; // whole steps of 8-bit samples
    struct Kind {
        int bits, channels;
    };
    GstRig p(options());
    for (const Kind kind : {Kind{8, 2}, Kind{24, 2}, Kind{32, 2}, Kind{16, 1}, Kind{16, 6}}) {
        const std::string what =
            std::to_string(kind.bits) + " bits, " + std::to_string(kind.channels) + " ch";
        const QString path = writeWav(dir.path(), QString("k%1-%2.wav").arg(kind.bits).arg(kind.channels),
                                      staircase(20, kUnit), kRate, kind.channels, kind.bits);
        ASSERT_FALSE(path.isEmpty());
        ASSERT_TRUE(p.open(path)) << what;
        ASSERT_TRUE(p.play()) << what;
        const auto runs = heardRuns();
        ASSERT_EQ(runs.size(), 20u) << what;
        for (int n = 0; n < 20; ++n) {
            EXPECT_NEAR(runs[n].first, kUnit * (n + 1), 4) << what << ", step " << n;
            // A new stream's first frame can be missing from the recording:
            // the null sink takes back what it had mixed ahead to start the
            // stream at once, and its monitor had already passed that on
            // (pacat loses its whole first 10 ms there).
            EXPECT_GE(runs[n].second, n == 0 ? kStep - 1 : kStep) << what << ", step " << n;
            EXPECT_LE(runs[n].second, kStep) << what << ", step " << n;
        }
        startRecorder();
    }
}

// Each thread of the output asks the desktop's real-time service, once, for a
// priority under the sound server's own (5), having first bounded the
// process's real-time CPU time as the service demands.
TEST_F(ServerOutputTest, TheOutputThreadsAskForRealTimeOnceEachWithTheirTimeBounded) {
    ASSERT_FALSE(PrivateSystemBus::address.isEmpty()) << "dbus-daemon is installed by install-deps";
    QDBusConnection bus = QDBusConnection::connectToBus(PrivateSystemBus::address, "realtime-service");
    RealtimeStandIn service;
    ASSERT_TRUE(bus.registerService("org.freedesktop.RealtimeKit1"));
    ASSERT_TRUE(bus.registerVirtualObject("/org/freedesktop/RealtimeKit1", &service));
    // A second each: a thread outlives the handling of its request, even on a busy machine.
    const QString mono = writeWav(dir.path(), "mono.wav", staircase(100), kRate, 1);
    const QString stereo = writeWav(dir.path(), "stereo.wav", staircase(100), kRate, 2);
    GstRig p(options());
    for (const QString &path : {mono, stereo, mono}) {
        ASSERT_TRUE(p.open(path));
        ASSERT_TRUE(p.play());
    }
    ASSERT_TRUE(waitFor([&] { return !service.requests.empty(); }, 10000));
    std::set<quint64> threads;
    for (const auto &r : service.requests) {
        EXPECT_EQ(r.pid, quint64(getpid()));
        EXPECT_EQ(r.priority, 4u);
        EXPECT_TRUE(r.threadAlive) << "thread " << r.thread << " is not one of ours";
        EXPECT_NE(r.thread, quint64(getpid())) << "the UI thread asked";
        threads.insert(r.thread);
    }
    EXPECT_EQ(threads.size(), service.requests.size()) << "a thread asked twice";
    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_RTTIME, &limit), 0);
    EXPECT_NE(limit.rlim_max, RLIM_INFINITY);
    bus.unregisterService("org.freedesktop.RealtimeKit1");
    QDBusConnection::disconnectFromBus("realtime-service");
}
