// FLAC, Ogg Vorbis, Opus and AAC in MP4 beside the older types: listed,
// recognised by their guard, opened with their exact length and played to
// their end by the real control.
#include "platform/engine/gstmediacontrol.h"
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

} // namespace

TEST(Formats, NewKindsAreListedOpenedWithTheirLengthAndPlayedToTheEnd) {
    StartMediaEngine();
    QTemporaryDir tmp;
    const QString d = tmp.path();
    // Lengths that are not whole numbers of any codec's frame.
    const std::vector<Kind> kinds = {
        {MakeFlac(d, "a.flac", {1.37}), 1.37, 0.001},  {MakeVorbis(d, "b.ogg", {1.29}), 1.29, 0.001},
        {MakeVorbis(d, "c.oga", {0.71}), 0.71, 0.001}, {MakeOpus(d, "d.opus", {1.13}), 1.13, 0.001},
        {MakeM4a(d, "e.m4a", {1.21}), 1.21, 0.05},
    };
    for (const Kind &k : kinds)
        ASSERT_FALSE(k.path.isEmpty());
    MakeFile(d, "f.flac.txt", "pas du son");

    FileListBox list;
    list.setPath(d);
    QStringList names;
    for (int i = 0; i < list.ListCount(); ++i)
        names << list.List(i);
    EXPECT_EQ(names, QStringList({"a.flac", "b.ogg", "c.oga", "d.opus", "e.m4a"}));

    GstMediaControl c(nullptr, silentSinks());
    int opens = 0;
    std::vector<int> states;
    QStringList errors;
    QObject::connect(&c, &MediaControl::OpenComplete, [&] { ++opens; });
    QObject::connect(&c, &MediaControl::StateChange, [&](int, int n) { states.push_back(n); });
    QObject::connect(&c, &MediaControl::Error,
                     [&](int, const QString &text, const QString &, bool *) { errors << text; });
    SinkTap tap;
    for (const Kind &k : kinds) {
        const QString name = QFileInfo(k.path).fileName();
        SCOPED_TRACE(name.toStdString());
        EXPECT_TRUE(gstengine::looksLikeItsKind(k.path));
        const int before = opens;
        c.setFileName(k.path);
        ASSERT_TRUE(waitFor([&] { return opens > before || !errors.isEmpty(); })) << "no open";
        ASSERT_TRUE(errors.isEmpty()) << errors.join(' ').toStdString();
        if (before == 0)
            tap.attach(c);
        EXPECT_NEAR(c.Duration(), k.seconds, k.tolerance);
        const double heard = tap.seconds.load();
        states.clear();
        c.Run();
        ASSERT_TRUE(waitFor([&] { return !states.empty() && states.back() == kMediaStopped; }));
        EXPECT_TRUE(errors.isEmpty()) << errors.join(' ').toStdString();
        // Every sample decoded reaches the output: none of the priming, none lost.
        EXPECT_NEAR(tap.seconds.load() - heard, k.seconds, std::max(k.tolerance, 0.005));
    }
    // The guard reads content, not names.
    for (const char *name : {"x.flac", "x.ogg", "x.opus", "x.m4a"})
        EXPECT_FALSE(
            gstengine::looksLikeItsKind(MakeFile(d, name, QByteArray("OggS fLaC ftyp").repeated(20))))
            << name;
    EXPECT_FALSE(gstengine::looksLikeItsKind(MakeFile(d, "vorbis.opus", QByteArray(64, '\0'))));
}
