// FLAC, Ogg Vorbis, Opus and AAC in MP4 beside the older types: listed,
// recognised by their guard, opened with their exact length, played to
// their end, and joined with no restart and no sample lost or added.
#include "platform/listcontrols.h"
#include "support/mediafiles.h"
#include "support/sinktap.h"

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
            {MakeM4a(d, "e.m4a", {1.21}), 1.21, 0.05}};
}

} // namespace

TEST(Formats, NewKindsAreListedOpenedWithTheirLengthAndPlayedToTheEnd) {
    StartMediaEngine();
    QTemporaryDir tmp;
    const QString d = tmp.path();
    const std::vector<Kind> kinds = makeKinds(d);
    for (const Kind &k : kinds)
        ASSERT_FALSE(k.path.isEmpty());
    MakeFile(d, "f.flac.txt", "pas du son");

    FileListBox list;
    list.setPath(d);
    QStringList names;
    for (int i = 0; i < list.ListCount(); ++i)
        names << list.List(i);
    EXPECT_EQ(names, QStringList({"a.flac", "b.ogg", "c.oga", "d.opus", "e.m4a"}));

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
    chain << MakeWav(d, "f.wav", {1.2}) << kinds[0].path;
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
