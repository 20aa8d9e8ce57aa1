// Play-list files: the reading rule, the writer, names, listing, rename and
// delete.
#include "platform/filename.h"
#include "storage/playlist.h"
#include "support/playerfixture.h"

#include <QDir>
#include <QFile>

#include <csignal>
#include <random>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// "names|folders", and "|sep" when a separator was seen.
QString parse(const QByteArray &bytes) {
    QStringList names, folders;
    bool separator = false;
    ParsePlaylist(DecodePlaylist(bytes), names, folders, &separator);
    return names.join(',') + '|' + folders.join(',') + (separator ? "|sep" : "");
}

class PlaylistFiles : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(tmp.isValid());
        dir = tmp.path() + "/lists";
        ASSERT_TRUE(QDir().mkpath(dir));
        SetPlaylistFolder(dir);
    }
    void TearDown() override { SetPlaylistFolder(QString()); }
    // Files of the folder other than the lists themselves (left-over temporaries).
    QStringList strays() const {
        QStringList out;
        for (const QString &f : QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System))
            if (!f.endsWith(".tnl"))
                out << f;
        return out;
    }
    QTemporaryDir tmp;
    QString dir;
};

} // namespace

TEST(PlaylistReading, LineEndsSeparatorsAndEncodings) {
    const struct {
        const char *what;
        QByteArray bytes;
        QString read;
    } cases[] = {
        {"saved programme", "a.mp3\r\nb.mp3\r\n\r\n/x/\r\n/y/\r\n\r\n", "a.mp3,b.mp3|/x/,/y/|sep"},
        {"no separator: all names", "a\r\nb\r\nc", "a,b,c|"},
        {"a second separator starts the folders again",
         "a\r\nb\r\nc\r\n\r\nf1\r\nf2\r\nf3\r\n\r\ng1\r\n\r\nh1\r\nh2\r\nh3\r\nh4\r\n",
         "a,b,c|h1,h2,h3,h4|sep"},
        {"leading empty line", "\r\nf1\r\nf2\r\n", "|f1,f2|sep"},
        {"nothing", "", "|"},
        // LF, CR alone and a mixture read like CR LF; so does a missing last line end.
        {"LF", "a\nb\n\n/x/\n/y/\n\n", "a,b|/x/,/y/|sep"},
        {"CR", "a\rb\r\r/x/\r/y/\r\r", "a,b|/x/,/y/|sep"},
        {"mixed", "a\rb\n\r\n/x/\r\n/y/", "a,b|/x/,/y/|sep"},
        {"CR CR LF: a line end then an empty line", "a\r\r\nb", "a|b|sep"},
        // A byte-order mark is skipped, not read as part of the first name.
        {"BOM", "\xEF\xBB\xBF\xC3\xA9t\xC3\xA9.mp3\r\n", "été.mp3|"},
        // Not UTF-8 is Windows-1252, whole file, and its unassigned bytes are kept.
        {"1252", "\xE9t\xE9 \x80 \x93\x94.mp3\r\n\r\nC:\\\r\n", "été € “”.mp3|C:\\|sep"},
        {"one stray byte", "\xC3\xA9\r\n\xFF\r\n", "Ã©,ÿ|"},
        {"unassigned", "\x81\x8D\x8F\x90\x9D", QString::fromUtf16(u"\u0081\u008D\u008F\u0090\u009D|")},
    };
    for (const auto &c : cases)
        EXPECT_EQ(parse(c.bytes), c.read) << c.what;

    // Results are replaced, not appended to.
    QStringList names{"old"}, folders{"old/"};
    ParsePlaylist(u"n", names, folders);
    EXPECT_EQ(names, QStringList({"n"}));
    EXPECT_TRUE(folders.isEmpty());

    // Binary rubbish gives some result and nothing worse.
    std::mt19937 rng(7);
    QByteArray junk(200000, '\0');
    for (char &c : junk)
        c = char(rng() & 0xFF);
    EXPECT_FALSE(parse(junk).startsWith(QLatin1Char('|')));
}

TEST_F(PlaylistFiles, SavedProgrammeHasTheLayoutAndReadsBack) {
    const QString path = PlaylistPath("deux");
    ASSERT_TRUE(WritePlaylist(path, {"été.mp3", "b c.wav"}, {"/musique/", "/"}, nullptr));
    EXPECT_EQ(fileBytes(path), QByteArray("\xC3\xA9t\xC3\xA9.mp3\r\nb c.wav\r\n\r\n/musique/\r\n/\r\n\r\n"));

    // Awkward names read back as written: accents, other scripts, quotes,
    // blanks, separators, escaped bytes of a name that is not UTF-8 on disk,
    // and the longest line.
    const QStringList names{" ",
                            "  x y ",
                            "a \"b\" 'c'.mp3",
                            "ß 中文 Ελλάδα עברית 🎵.wav",
                            "\t;\\%€..C:\\",
                            DecodeFileName(QByteArray("caf\xE9-\xFF.mp3")),
                            QString(kPlaylistMaxLine - 4, QChar(u'é')) + ".mp3"};
    const QStringList folders{"/", "/ /", "/C:\\/", "/../%/", "/\t;/€/", "/é/中文/", "/x y/"};
    QString error;
    ASSERT_TRUE(WritePlaylist(path, names, folders, &error)) << error.toStdString();
    QStringList gotNames, gotFolders;
    bool separator = false;
    ASSERT_TRUE(ReadPlaylist(path, gotNames, gotFolders, &error, &separator));
    EXPECT_EQ(gotNames, names);
    EXPECT_EQ(gotFolders, folders);
    EXPECT_TRUE(separator);
    // Byte for byte what Qt's own encoder makes of each entry, a lone
    // surrogate (which cannot read back) included.
    QStringList odd = names;
    odd << QString(QChar(0xD800)) + "x" << QString("y") + QChar(0xDC00);
    ASSERT_TRUE(WritePlaylist(path, odd, folders + QStringList{"/", "/"}, &error)) << error.toStdString();
    QByteArray expected;
    for (const QStringList &list : {odd, folders + QStringList{"/", "/"}}) {
        for (const QString &entry : list)
            expected += entry.toUtf8() + "\r\n";
        expected += "\r\n";
    }
    EXPECT_EQ(fileBytes(path), expected);
    EXPECT_FALSE(fileBytes(path).startsWith("\xEF\xBB\xBF"));
    EXPECT_TRUE(strays().isEmpty());
}

TEST_F(PlaylistFiles, FailedSaveLeavesTheEarlierFileByteForByte) {
    const QString path = PlaylistPath("gardée");
    const QByteArray before("x.mp3\r\n\r\n/old/\r\n\r\n");
    ASSERT_TRUE(writeFile(path, before));
    QStringList big;
    for (int i = 0; i < 5000; ++i)
        big << QString("piste numéro %1.mp3").arg(i);
    const QStringList folders(big.size(), "/music/");
    QString error;

    // The disk fills up half-way (a file size limit stands in for it).
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit small = old;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool written = WritePlaylist(path, big, folders, &error);
    setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_FALSE(written);
    EXPECT_TRUE(error.contains("gardée")) << error.toStdString();
    EXPECT_EQ(fileBytes(path), before);

    // Entries that would not read back: empty, or holding a line break.
    EXPECT_FALSE(WritePlaylist(path, {"un", ""}, {"/a/", "/b/"}, &error));
    EXPECT_FALSE(WritePlaylist(path, {"un"}, {"/a\r/"}, &error));

    // The target is a folder.
    ASSERT_TRUE(QDir().mkpath(PlaylistPath("dossier")));
    EXPECT_FALSE(WritePlaylist(PlaylistPath("dossier"), {"a"}, {"/"}, &error));
    EXPECT_TRUE(QFileInfo(PlaylistPath("dossier")).isDir());

    // A folder that does not exist.
    EXPECT_FALSE(WritePlaylist(dir + "/absent/x.tnl", {"a"}, {"/"}, &error));

    // A read-only folder (root writes anywhere: nothing to check then).
    if (geteuid() != 0) {
        ASSERT_EQ(chmod(QFile::encodeName(dir).constData(), 0555), 0);
        EXPECT_FALSE(WritePlaylist(path, {"a"}, {"/"}, &error));
        EXPECT_TRUE(error.contains("accès refusé")) << error.toStdString();
        chmod(QFile::encodeName(dir).constData(), 0755);
        EXPECT_EQ(fileBytes(path), before);
    }
    EXPECT_TRUE(strays().isEmpty()) << strays().join(",").toStdString();

    // And a good save replaces it whole, keeping its permissions.
    ASSERT_EQ(chmod(QFile::encodeName(path).constData(), 0640), 0);
    ASSERT_TRUE(WritePlaylist(path, {"neuf.mp3"}, {"/new/"}, &error));
    EXPECT_EQ(fileBytes(path), QByteArray("neuf.mp3\r\n\r\n/new/\r\n\r\n"));
    struct stat st {};
    ASSERT_EQ(stat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST_F(PlaylistFiles, FilesThatCannotBeReadLeaveTheListsAlone) {
    QStringList names{"garde"}, folders{"/garde/"};
    QString error;
    auto unchanged = [&] { return names == QStringList({"garde"}) && folders == QStringList({"/garde/"}); };

    EXPECT_FALSE(ReadPlaylist(PlaylistPath("absente"), names, folders, &error));
    EXPECT_TRUE(error.contains("absente") && error.contains("n'existe pas")) << error.toStdString();
    EXPECT_TRUE(unchanged());

    // A folder named like a list.
    ASSERT_TRUE(QDir().mkpath(PlaylistPath("dossier")));
    EXPECT_FALSE(ReadPlaylist(PlaylistPath("dossier"), names, folders, &error));
    EXPECT_TRUE(unchanged());

    // A named pipe with no writer must not hang the reader.
    const QString fifo = PlaylistPath("tube");
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    EXPECT_FALSE(ReadPlaylist(fifo, names, folders, &error));
    EXPECT_TRUE(error.contains("fichier ordinaire")) << error.toStdString();
    EXPECT_TRUE(unchanged());

    // Over the size cap (a sparse file: no real disk space).
    const QString huge = PlaylistPath("énorme");
    {
        QFile f(huge);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_TRUE(f.resize(kPlaylistMaxBytes + 1));
    }
    EXPECT_FALSE(ReadPlaylist(huge, names, folders, &error));
    EXPECT_TRUE(unchanged());
    // A line no file name can be (a 1 MB line, binary rubbish) is refused,
    // whether saved or read.
    ASSERT_TRUE(writeFile(PlaylistPath("longue"), "a\r\n\r\n" + QByteArray(1 << 20, 'x') + "\r\n"));
    EXPECT_FALSE(ReadPlaylist(PlaylistPath("longue"), names, folders, &error));
    EXPECT_TRUE(unchanged());
    EXPECT_FALSE(WritePlaylist(PlaylistPath("longue"), {QString(kPlaylistMaxLine + 1, 'n')}, {"/"}, &error));

    // A NUL would cut the path at it: the list is refused, naming it.
    ASSERT_TRUE(writeFile(PlaylistPath("nul"), QByteArray("tone.wav\0junk.mp3\r\n\r\n/m/\r\n", 21)));
    EXPECT_FALSE(ReadPlaylist(PlaylistPath("nul"), names, folders, &error));
    EXPECT_TRUE(error.contains("« nul »") && error.contains("« tone.wav… »") &&
                error.contains("caractère nul"))
        << error.toStdString();
    EXPECT_TRUE(unchanged());
    EXPECT_FALSE(
        WritePlaylist(PlaylistPath("nul"), {QString("tone.wav") + QChar(0) + "junk.mp3"}, {"/m/"}, &error));
    EXPECT_TRUE(error.contains("caractère nul")) << error.toStdString();

    // The entry cap: names, the folder block, and a folder block started
    // again by a second separator all count on their own.
    const QByteArray one("a\n"), cap = one.repeated(kPlaylistMaxEntries);
    const struct {
        const char *what;
        QByteArray bytes;
        bool read;
    } sizes[] = {
        {"names at the cap", cap, true},
        {"one name over", cap + one, false},
        {"folders at the cap", "a\n\n" + cap, true},
        {"one folder over", "a\n\n" + cap + one, false},
        {"each folder block at the cap", cap + '\n' + cap + '\n' + cap, true},
    };
    for (const auto &c : sizes) {
        ASSERT_TRUE(writeFile(PlaylistPath("grande"), c.bytes));
        QStringList n{"garde"}, f{"/garde/"};
        EXPECT_EQ(ReadPlaylist(PlaylistPath("grande"), n, f, &error), c.read) << c.what;
        if (c.read)
            EXPECT_EQ(std::max(n.size(), f.size()), kPlaylistMaxEntries) << c.what;
        else
            EXPECT_TRUE(error.contains("« grande »") && error.contains("éléments") &&
                        n == QStringList{"garde"})
                << c.what << error.toStdString();
    }
    const QStringList over(kPlaylistMaxEntries + 1, "a");
    EXPECT_FALSE(WritePlaylist(PlaylistPath("grande"), over, over, &error));

    // An empty file reads as an empty programme.
    ASSERT_TRUE(writeFile(PlaylistPath("vide"), {}));
    EXPECT_TRUE(ReadPlaylist(PlaylistPath("vide"), names, folders, &error));
    EXPECT_TRUE(names.isEmpty() && folders.isEmpty());
}

TEST_F(PlaylistFiles, UnsafeNamesAreRefused) {
    EXPECT_EQ(CheckPlaylistName("Ma liste « été » 'n' \"ok\""), QString());
    EXPECT_EQ(CheckPlaylistName(QString(251, 'a')), QString()); // 255 bytes with ".tnl"
    // Blanks only would save a blank row; a leading dot a hidden file.
    for (const QString &bad : {QString(" "), QString("  \t "), QString(".cachée"), QString(". x"),
                               QString("a/b"), QString("../x"), QString("."), QString(".."),
                               QString("a") + QChar(0) + "b", QString(252, 'a'), QString(126, QChar(u'é'))})
        EXPECT_NE(CheckPlaylistName(bad), QString()) << bad.toStdString();
}

TEST_F(PlaylistFiles, ListingShowsRegularListFilesSorted) {
    // "A b" sorts after "A" as a list, before it as a file name ("A b.tnl").
    for (const char *name : {"b.tnl", "A.tnl", "A b.tnl", "été.tnl", "c.TNL", "notes.txt", ".tnl", "Z.tnl"})
        ASSERT_TRUE(writeFile(dir + "/" + QString::fromUtf8(name), "x\r\n"));
    ASSERT_TRUE(QDir().mkpath(dir + "/dossier.tnl"));
    ASSERT_EQ(mkfifo(QFile::encodeName(dir + "/tube.tnl").constData(), 0600), 0);
    // A file name that is not UTF-8 is listed under its escaped name.
    const QByteArray raw = QFile::encodeName(dir) + "/caf\xE9.tnl";
    FILE *f = fopen(raw.constData(), "w");
    ASSERT_NE(f, nullptr);
    fclose(f);
    ASSERT_EQ(symlink("b.tnl", QFile::encodeName(dir + "/lien.tnl").constData()), 0);

    const QString cafe = DecodeFileName("caf\xE9");
    EXPECT_EQ(ListPlaylists(dir), QStringList({"A", "A b", "b", cafe, "lien", "Z", "été"}));
    EXPECT_TRUE(ListPlaylists(dir + "/absent").isEmpty());

    // The escaped name opens the very file.
    QStringList names, folders;
    QString error;
    EXPECT_TRUE(ReadPlaylist(PlaylistPath(cafe), names, folders, &error)) << error.toStdString();
    unlink(raw.constData()); // the temporary folder's clean-up cannot name it
}
