// FLAC, Ogg Vorbis, Opus and AAC in MP4 beside the older types: listed,
// recognised by their guard, opened with their exact length, played to
// their end, and joined with no restart and no sample lost or added.
#include "platform/engine/mp4gapless.h"
#include "platform/listcontrols.h"
#include "support/mediafiles.h"
#include "support/sinktap.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

using namespace testmedia;

namespace {

struct Kind {
    QString path;
    double seconds;
    double tolerance; // what the container records of its encoder's delay
};

// Lengths that are not whole numbers of any codec's frame.
std::vector<Kind> makeKinds(const QString &d) {
    return {{MakeFlac(d, "a.flac", {1.37}), 1.37, 0.001},
            {MakeVorbis(d, "b.ogg", {1.29}), 1.29, 0.001},
            {MakeVorbis(d, "c.oga", {1.31}), 1.31, 0.001},
            {MakeOpus(d, "d.opus", {1.13}), 1.13, 0.001},
            {MakeM4a(d, "e.m4a", {1.21}), 1.21, 0.001},
            {MakeM4a(d, "f.m4a", {1.17}, M4aDelay::StoreTag), 1.17, 0.001}};
}

} // namespace

TEST(Formats, NewKindsAreListedOpenedWithTheirLengthAndPlayedToTheEnd) {
    StartMediaEngine();
    QTemporaryDir tmp;
    const QString d = tmp.path();
    const std::vector<Kind> kinds = makeKinds(d);
    for (const Kind &k : kinds)
        ASSERT_FALSE(k.path.isEmpty());
    MakeFile(d, "g.flac.txt", "pas du son");

    FileListBox list;
    list.setPath(d);
    QStringList names;
    for (int i = 0; i < list.ListCount(); ++i)
        names << list.List(i);
    EXPECT_EQ(names, QStringList({"a.flac", "b.ogg", "c.oga", "d.opus", "e.m4a", "f.m4a"}));

    GstRig r;
    for (const Kind &k : kinds) {
        SCOPED_TRACE(QFileInfo(k.path).fileName().toStdString());
        EXPECT_TRUE(gstengine::looksLikeItsKind(k.path));
        ASSERT_TRUE(r.open(k.path));
        EXPECT_NEAR(r.c.Duration(), k.seconds, k.tolerance);
        const double heard = r.tap.seconds.load();
        ASSERT_TRUE(r.play());
        EXPECT_TRUE(r.errors.empty());
        // Every sample decoded reaches the output: none of the priming, none lost.
        EXPECT_NEAR(r.tap.seconds.load() - heard, k.seconds, std::max(k.tolerance, 0.005));
    }
    // The guard reads content, not names.
    for (const char *name : {"x.flac", "x.ogg", "x.opus", "x.m4a"})
        EXPECT_FALSE(
            gstengine::looksLikeItsKind(MakeFile(d, name, QByteArray("OggS fLaC ftyp").repeated(20))))
            << name;
    EXPECT_FALSE(gstengine::looksLikeItsKind(MakeFile(d, "vorbis.opus", QByteArray(64, '\0'))));
    // An MP4 cut short has lost its description (written last) or its data.
    for (double part : {0.3, 0.6, 0.95})
        EXPECT_FALSE(gstengine::looksLikeItsKind(MakeTruncated(kinds[4].path, d, "coupé.m4a", part))) << part;
}

// The movie box of either kind of AAC file tells its priming and the
// samples kept, and is mended at its size for the demuxer: an edited movie
// lengthened past its edit's end in media time, a tagged one given the edit
// its tag describes. Damaged boxes are read and mended with no fault and
// keep their size.
TEST(Formats, Mp4MovieBoxesAreReadAndMendedAtTheirSize) {
    QTemporaryDir tmp;
    constexpr int64_t kFrames = 51597; // 1.17 s at 44.1 kHz
    const QString edited = MakeM4a(tmp.path(), "e.m4a", {1.17});
    const QString tagged = MakeM4a(tmp.path(), "t.m4a", {1.17}, M4aDelay::StoreTag);
    ASSERT_FALSE(edited.isEmpty() || tagged.isEmpty());
    auto movieOf = [](const QString &path) {
        QFile f(path);
        const QByteArray all = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        const qsizetype at = all.lastIndexOf("moov") - 4; // ffmpeg writes it last
        return at < 0 ? std::vector<uint8_t>() : std::vector<uint8_t>(all.begin() + at, all.end());
    };
    for (const QString &path : {edited, tagged}) {
        SCOPED_TRACE(path.toStdString());
        std::vector<uint8_t> moov = movieOf(path);
        ASSERT_FALSE(moov.empty());
        const gstengine::Mp4Sound before = gstengine::readMovieSound(moov.data(), moov.size());
        EXPECT_EQ(before.priming, 1024);
        EXPECT_EQ(before.kept, kFrames);
        EXPECT_EQ(before.fromEdit, path == edited);
        EXPECT_DOUBLE_EQ(gstengine::Mp4SoundSeconds(path), double(kFrames) / 44100);
        const std::size_t size = moov.size();
        ASSERT_TRUE(gstengine::mendMovieBox(moov));
        ASSERT_EQ(moov.size(), size);
        const gstengine::Mp4Sound after = gstengine::readMovieSound(moov.data(), moov.size());
        EXPECT_TRUE(after.fromEdit);
        EXPECT_EQ(after.priming, 1024);
        EXPECT_EQ(after.kept, kFrames);
        EXPECT_FALSE(gstengine::mendMovieBox(moov)) << "a mended box needs nothing more";
    }
    // No delay told: nothing to mend, no length of our own.
    std::vector<uint8_t> bare = movieOf(tagged);
    const auto name = std::search(bare.begin(), bare.end(), std::begin("iTunSMPB"), std::end("iTunSMPB") - 1);
    ASSERT_NE(name, bare.end());
    *name = 'X';
    EXPECT_LT(gstengine::readMovieSound(bare.data(), bare.size()).seconds(), 0);
    EXPECT_FALSE(gstengine::mendMovieBox(bare));

    uint32_t seed = 777;
    auto next = [&] { return (seed = seed * 1664525u + 1013904223u) >> 8; };
    for (const QString &path : {edited, tagged}) {
        const std::vector<uint8_t> good = movieOf(path);
        for (int round = 0; round < 3000; ++round) {
            std::vector<uint8_t> moov = good;
            if (round % 4 == 3) { // cut short, the header telling the new size
                moov.resize(8 + next() % (good.size() - 8));
                const std::size_t n = moov.size();
                moov[0] = uint8_t(n >> 24), moov[1] = uint8_t(n >> 16), moov[2] = uint8_t(n >> 8),
                moov[3] = uint8_t(n);
            } else {
                for (unsigned i = 0, hits = 1 + next() % 4; i < hits; ++i)
                    moov[8 + next() % (moov.size() - 8)] = uint8_t(round % 2 ? next() : 0xff);
            }
            const std::size_t size = moov.size();
            gstengine::readMovieSound(moov.data(), moov.size());
            gstengine::mendMovieBox(moov);
            ASSERT_EQ(moov.size(), size) << round;
        }
    }
}

// A cut MP4 offered next is never switched to on the streaming thread, where
// its failure would wedge the pipeline: the end of the file before it is
// reported, and its own open fails with one error.
TEST(Formats, ACutMp4OfferedNextEndsTheFileBeforeItAndFailsOnce) {
    StartMediaEngine();
    QTemporaryDir tmp;
    const QString d = tmp.path();
    const QString flac = MakeFlac(d, "a.flac", {1.5});
    const QString cut = MakeTruncated(MakeM4a(d, "b.m4a", {1.5}), d, "coupé.m4a", 0.6);
    ASSERT_FALSE(flac.isEmpty() || cut.isEmpty());
    GstRig r(silentSinks(true));
    ASSERT_TRUE(r.open(flac, cut));
    ASSERT_TRUE(r.play());
    EXPECT_EQ(r.c.handOvers(), 0);
    r.c.setFileName(cut);
    EXPECT_EQ(r.oneError(), GstMediaControl::NotRecognised);
}

// Each file offered ahead is taken with no restart, the WAV's included, and
// what is heard is the sum of the files: the joins add and drop nothing.
// The files are longer than what playbin reads ahead, so each offer is in time.
TEST(Formats, NewKindsJoinWithNoRestartAndNothingLostOrAdded) {
    StartMediaEngine();
    QTemporaryDir tmp;
    const QString d = tmp.path();
    const std::vector<Kind> kinds = makeKinds(d);
    QStringList chain;
    double total = 0, slack = 0;
    for (const Kind &k : kinds) {
        ASSERT_FALSE(k.path.isEmpty());
        chain << k.path;
        total += k.seconds;
        slack += std::max(k.tolerance, 0.002);
    }
    chain << MakeWav(d, "g.wav", {1.2}) << kinds[0].path;
    total += 1.2 + kinds[0].seconds;

    GstRig r(silentSinks(true));
    ASSERT_TRUE(r.open(chain[0], chain[1]));
    QStringList picks = chain.mid(1);
    QStringList log;
    r.onState = [&](int n) {
        log << QString("%1 %2").arg(QFileInfo(r.c.FileName()).fileName()).arg(n);
        if (n == kMediaStopped && !picks.isEmpty()) {
            r.c.setFileName(picks.takeFirst());
            r.c.setNextFileName(picks.value(0));
        }
    };
    QObject::connect(&r.gst, &MediaControl::OpenComplete, &r.gst, [&] { r.c.Run(); });
    r.c.Run();
    // The last file played to its end.
    ASSERT_TRUE(waitFor(
        [&] { return picks.isEmpty() && r.stopped() && r.c.CurrentPosition() >= kinds[0].seconds - 0.01; },
        60000))
        << log.join(", ").toStdString();
    EXPECT_TRUE(r.errors.empty());
    EXPECT_EQ(r.c.handOvers(), int(chain.size()) - 1) << log.join(", ").toStdString();
    EXPECT_NEAR(r.tap.seconds.load(), total, slack);
}
