// Tags read for the desktop's media controls: title, artist, album, track
// number and the embedded picture, and the names the window shows when a
// file has none.
#include "platform/desktop/mpris.h"
#include "platform/engine/tagreader.h"
#include "support/mediafiles.h"
#include "support/sinktap.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QUrl>

using namespace testmedia;

namespace {

QByteArray be32(quint32 v) {
    const char bytes[] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
    return QByteArray(bytes, 4);
}

QByteArray frame(const char *id, const QByteArray &body) {
    return QByteArray(id) + be32(quint32(body.size())) + QByteArray(2, '\0') + body;
}

// An ID3v2.3 tag: Latin-1 texts and a front cover.
QByteArray id3(const QByteArray &title, const QByteArray &artist, const QByteArray &album,
               const QByteArray &track, const QByteArray &png) {
    QByteArray body = frame("TIT2", '\0' + title) + frame("TPE1", '\0' + artist) +
                      frame("TALB", '\0' + album) + frame("TRCK", '\0' + track);
    if (!png.isEmpty())
        body += frame("APIC", QByteArray(1, '\0') + "image/png" + '\0' + char(3) + '\0' + png);
    const auto n = quint32(body.size());
    const char size[] = {char((n >> 21) & 0x7f), char((n >> 14) & 0x7f), char((n >> 7) & 0x7f),
                         char(n & 0x7f)};
    return QByteArray("ID3\x03\x00\x00", 6) + QByteArray(size, 4) + body;
}

QByteArray png(Qt::GlobalColor color) {
    QImage image(8, 8, QImage::Format_RGB32);
    image.fill(color);
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    image.save(&out, "PNG");
    return out.data();
}

QString tagged(const QString &dir, const QString &name, const QByteArray &tag) {
    const QString plain = MakeMp3(dir, "plain-" + name, {0.5});
    QFile in(plain);
    if (plain.isEmpty() || !in.open(QIODevice::ReadOnly))
        return {};
    return MakeFile(dir, name, tag + in.readAll());
}

} // namespace

TEST(Tags, ReadFromEachKindWithThePictureCachedOnce) {
    StartMediaEngine();
    QTemporaryDir tmp;
    const QString d = tmp.path(), art = d + "/art";
    const QByteArray red = png(Qt::red);
    const QString song = tagged(d, "chanson.mp3", id3("Chanson d'\xe9t\xe9", "Moi", "Disque", "3/12", red));
    ASSERT_FALSE(song.isEmpty());
    const TrackTags tags = ReadTrackTags(song, art);
    EXPECT_EQ(tags.title, QString("Chanson d'été"));
    EXPECT_EQ(tags.artist, "Moi");
    EXPECT_EQ(tags.album, "Disque");
    EXPECT_EQ(tags.trackNumber, 3);
    ASSERT_FALSE(tags.artPath.isEmpty());
    QFile picture(tags.artPath);
    ASSERT_TRUE(picture.open(QIODevice::ReadOnly));
    EXPECT_EQ(picture.readAll(), red);
    EXPECT_TRUE(tags.artPath.endsWith(".png"));
    EXPECT_EQ(QFile::permissions(art) & (QFile::ReadOther | QFile::ReadGroup), 0);

    // The same picture in another file is the same cache file; the cache is bounded.
    for (int i = 0; i < 40; ++i)
        MakeFile(art, QString("ancien-%1.jpg").arg(i), "x");
    const QString other = tagged(d, "autre.mp3", id3("Autre", "Moi", "Disque", "4", red));
    EXPECT_EQ(ReadTrackTags(other, art).artPath, tags.artPath);
    EXPECT_LE(QDir(art).entryList(QDir::Files).size(), 32);
    EXPECT_TRUE(QFile::exists(tags.artPath));

    // A FLAC file without comments: nothing, and no picture.
    const QString flac = MakeFlac(d, "piste.flac", {0.5});
    ASSERT_FALSE(flac.isEmpty());
    EXPECT_EQ(ReadTrackTags(flac, art), TrackTags{});

    // Files with nothing to read, or nothing sound: no tags, no crash.
    for (const QString &path : {MakeWav(d, "ton.wav", {0.3}), MakeFile(d, "faux.mp3", "du texte, pas du son"),
                                MakeFile(d, "vide.flac", {}), d + "/absent.ogg"})
        EXPECT_EQ(ReadTrackTags(path, art), TrackTags{}) << path.toStdString();
}

TEST(Tags, TheDesktopSeesTheTagsOrTheShownName) {
    StartMediaEngine();
    QTemporaryDir tmp;
    const QString d = tmp.path();
    const QString song = tagged(d, "chanson.mp3", id3("Titre", "Artiste", "Album", "7", png(Qt::blue)));
    const QString plain = MakeWav(d, "sans.wav", {0.3});
    QString current = song;
    MprisPlayer p;
    p.file = [&] { return current; };
    p.title = [] { return QString("nom affiché"); };
    MprisService service(p);
    service.update();
    // Until the tags are read, and for a file without any, the shown name.
    EXPECT_EQ(service.metadata().value("xesam:title"), "nom affiché");
    ASSERT_TRUE(waitFor([&] { return service.metadata().contains("xesam:artist"); }));
    const QVariantMap m = service.metadata();
    EXPECT_EQ(m.value("xesam:title"), "Titre");
    EXPECT_EQ(m.value("xesam:artist").toStringList(), QStringList{"Artiste"});
    EXPECT_EQ(m.value("xesam:album"), "Album");
    EXPECT_EQ(m.value("xesam:trackNumber"), 7);
    const QString art = QUrl(m.value("mpris:artUrl").toString()).toLocalFile();
    EXPECT_TRUE(art.startsWith(TrackArtFolder())) << art.toStdString();
    EXPECT_TRUE(QFile::exists(art));

    // Another file: its own metadata at once, never the last file's tags.
    current = plain;
    EXPECT_EQ(service.metadata().value("xesam:title"), "nom affiché");
    service.update();
    EXPECT_FALSE(service.metadata().contains("xesam:artist"));
    QTest::qWait(300);
    EXPECT_FALSE(service.metadata().contains("mpris:artUrl"));
    EXPECT_EQ(service.metadata().value("xesam:title"), "nom affiché");
}
