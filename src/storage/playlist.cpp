#include "storage/playlist.h"

#include "platform/filename.h"
#include "storage/atomicfile.h"
#include "storage/listing.h"
#include "storage/rename.h"
#include "storage/temporaries.h"

#include <QDir>
#include <QLocale>
#include <QStandardPaths>
#include <QStringDecoder>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

QString g_folder;

constexpr int kNameMax = 255; // bytes in one file name

// Counts as French readers write them (200 000).
QString count(qsizetype n) {
    return QLocale(QLocale::French).toString(qint64(n));
}

char16_t unit(QChar c) {
    return c.unicode();
}
char16_t unit(char c) {
    return static_cast<unsigned char>(c);
}

// The lines of a text as the reading rule splits them: `line(start, end)`
// for each, an empty one included, until it returns false. A line ends at
// CR LF, LF or CR.
template <typename Ch, typename Line> void forEachLine(const Ch *p, qsizetype size, Line line) {
    qsizetype start = 0;
    while (start < size) {
        qsizetype end = start;
        while (end < size && unit(p[end]) != u'\r' && unit(p[end]) != u'\n')
            ++end;
        if (!line(start, end))
            return;
        if (end < size && unit(p[end]) == u'\r' && end + 1 < size && unit(p[end + 1]) == u'\n')
            ++end;
        start = end + 1;
    }
}

// Whether the reading rule would make more than `most` names or folders of
// these bytes. Counted on the bytes (line ends are the same bytes in both
// encodings), stopping at the first entry too many.
bool overEntries(const char *p, qsizetype size, qsizetype most) {
    // Names, then the folder block's index, which each empty line restarts.
    bool over = false;
    qsizetype index = 0;
    forEachLine(p, size, [&](qsizetype start, qsizetype end) {
        if (end == start)
            index = 0;
        else
            over = ++index > most;
        return !over;
    });
    return over;
}

QString quoted(const QString &name) {
    return QStringLiteral("« ") + DisplayFileName(name) + QStringLiteral(" »");
}

// The list's name in messages: the file name less its suffix.
QString listName(const QString &path) {
    QString name = path.mid(path.lastIndexOf('/') + 1);
    if (name.endsWith(QLatin1String(kPlaylistSuffix)))
        name.chop(4);
    return name;
}

void setError(QString *error, const QString &text) {
    if (error)
        *error = text;
}

// Windows-1252, the code page of older lists. The five unassigned bytes keep
// their C1 code points, so nothing is lost.
QString decode1252(const char *p, qsizetype size) {
    static constexpr char16_t high[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                          0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                          0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                          0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    QString out(size, Qt::Uninitialized);
    QChar *d = out.data();
    for (qsizetype i = 0; i < size; ++i) {
        const auto b = static_cast<unsigned char>(p[i]);
        d[i] = QChar(b >= 0x80 && b < 0xA0 ? high[b - 0x80] : char16_t(b));
    }
    return out;
}

// Appends the entry's UTF-8 and a line break; false when it cannot be one
// line. Encoded in place: a temporary per entry (toUtf8) made most of the time
// of saving a long programme.
bool appendLine(QByteArray &out, const QString &entry) {
    const qsizetype n = entry.size();
    if (n == 0 || n > kPlaylistMaxLine)
        return false;
    const auto *from = reinterpret_cast<const char16_t *>(entry.constData());
    const qsizetype at = out.size();
    // At most 3 bytes per UTF-16 unit (a surrogate pair makes 4 of 2).
    out.resize(at + 3 * n + 2);
    auto *to = reinterpret_cast<unsigned char *>(out.data() + at);
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = from[i];
        if (c < 0x80) {
            if (c == u'\n' || c == u'\r' || c == 0) {
                out.truncate(at);
                return false;
            }
            *to++ = static_cast<unsigned char>(c);
        } else if (c < 0x800) {
            *to++ = static_cast<unsigned char>(0xC0 | (c >> 6));
            *to++ = static_cast<unsigned char>(0x80 | (c & 0x3F));
        } else if (!QChar::isSurrogate(c)) {
            *to++ = static_cast<unsigned char>(0xE0 | (c >> 12));
            *to++ = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
            *to++ = static_cast<unsigned char>(0x80 | (c & 0x3F));
        } else if (QChar::isHighSurrogate(c) && i + 1 < n && QChar::isLowSurrogate(from[i + 1])) {
            const char32_t u = QChar::surrogateToUcs4(c, from[++i]);
            *to++ = static_cast<unsigned char>(0xF0 | (u >> 18));
            *to++ = static_cast<unsigned char>(0x80 | ((u >> 12) & 0x3F));
            *to++ = static_cast<unsigned char>(0x80 | ((u >> 6) & 0x3F));
            *to++ = static_cast<unsigned char>(0x80 | (u & 0x3F));
        } else {
            // A lone surrogate: Qt's own encoding decides what it becomes.
            out.truncate(at);
            if (entry.contains(u'\n') || entry.contains(u'\r') || entry.contains(QChar(0)))
                return false;
            out.append(entry.toUtf8());
            out.append("\r\n", 2);
            return true;
        }
    }
    *to++ = '\r';
    *to++ = '\n';
    out.truncate(reinterpret_cast<char *>(to) - out.constData());
    return true;
}

// Why the entry cannot be one line of a list.
QString refusal(const QString &entry) {
    if (entry.isEmpty())
        return QStringLiteral("La liste contient un élément vide, qui ne peut pas être enregistré.");
    if (entry.size() > kPlaylistMaxLine)
        return QStringLiteral("L'élément %1… dépasse %2 caractères : il ne peut pas être enregistré dans une "
                              "liste.")
            .arg(quoted(entry.left(40)))
            .arg(kPlaylistMaxLine);
    QString shown = entry;
    shown.replace(u'\r', u' ').replace(u'\n', u' ');
    const bool nul = shown.contains(QChar(0));
    shown.replace(QChar(0), u' ');
    return QStringLiteral("L'élément %1 contient %2 : il ne peut pas être enregistré dans une liste.")
        .arg(quoted(shown), nul ? QStringLiteral("un caractère nul") : QStringLiteral("un saut de ligne"));
}

// Hands the file's bytes to `sink` in pieces of about `piece` bytes; false
// (with the reason) at the first entry that cannot be one line, or when the
// sink fails. The caller drops what the sink got before a failure.
template <typename Sink>
bool encodePlaylist(const QStringList &names, const QStringList &folders, qsizetype piece, Sink sink,
                    QString *error) {
    if (names.size() > kPlaylistMaxEntries || folders.size() > kPlaylistMaxEntries) {
        setError(error,
                 QStringLiteral("La liste compte plus de %1 éléments : elle ne pourrait pas être rouverte.")
                     .arg(count(kPlaylistMaxEntries)));
        return false;
    }
    QByteArray buffer;
    buffer.reserve(piece + 4096);
    for (const QStringList *list : {&names, &folders}) {
        for (const QString &entry : *list) {
            if (!appendLine(buffer, entry)) {
                setError(error, refusal(entry));
                return false;
            }
            if (buffer.size() >= piece) {
                if (!sink(buffer))
                    return false;
                buffer.resize(0);
            }
        }
        buffer.append("\r\n", 2);
    }
    return sink(buffer);
}

} // namespace

QString PlaylistFolder() {
    if (!g_folder.isEmpty())
        return g_folder;
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

void SetPlaylistFolder(const QString &folder) {
    g_folder = folder;
}

bool MakePlaylistFolder(QString *error) {
    const QString folder = PlaylistFolder();
    if (QDir(folder).exists() || QDir().mkpath(folder))
        return true;
    setError(error, QStringLiteral("Le dossier des listes %1 n'a pas pu être créé.").arg(quoted(folder)));
    return false;
}

QString PlaylistPath(const QString &name) {
    return PlaylistFolder() + '/' + name + QLatin1String(kPlaylistSuffix);
}

QString CheckPlaylistName(const QString &name) {
    const QString head = QStringLiteral("Le nom %1 ne convient pas pour une liste : ").arg(quoted(name));
    if (name.isEmpty())
        return head + QStringLiteral("il est vide.");
    if (name.trimmed().isEmpty())
        return head + QStringLiteral("il n'est fait que d'espaces.");
    if (name.startsWith('.'))
        return head + QStringLiteral("il ne peut pas commencer par « . » (le fichier serait caché).");
    if (name.contains('/'))
        return head + QStringLiteral("il ne peut pas contenir de « / ».");
    if (name.contains(QChar(0)))
        return head + QStringLiteral("il ne peut pas contenir de caractère nul.");
    if (EncodeFileName(name + QLatin1String(kPlaylistSuffix)).size() > kNameMax)
        return head + QStringLiteral("il est trop long pour un nom de fichier.");
    return QString();
}

void ParsePlaylist(QStringView text, QStringList &names, QStringList &folders, bool *separator) {
    names.clear();
    folders.clear();
    bool inFolders = false;
    qsizetype index = 0;
    const QChar *p = text.data();
    forEachLine(p, text.size(), [&](qsizetype start, qsizetype end) {
        if (end == start) {
            inFolders = true;
            index = 0;
        } else {
            QString line(p + start, end - start);
            if (!inFolders) {
                names.append(std::move(line));
            } else {
                if (index < folders.size())
                    folders[index] = std::move(line);
                else
                    folders.append(std::move(line));
                ++index;
            }
        }
        return true;
    });
    if (separator)
        *separator = inFolders;
}

QString DecodePlaylist(const QByteArray &bytes) {
    const char *p = bytes.constData();
    qsizetype size = bytes.size();
    if (size >= 3 && p[0] == '\xEF' && p[1] == '\xBB' && p[2] == '\xBF') {
        p += 3;
        size -= 3;
    }
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    QString text = utf8.decode(QByteArrayView(p, size));
    if (!utf8.hasError())
        return text;
    return decode1252(p, size);
}

bool ReadPlaylist(const QString &path, QStringList &names, QStringList &folders, QString *error,
                  bool *separator) {
    const QString head = QStringLiteral("La liste %1 n'a pas pu être ouverte : ").arg(quoted(listName(path)));
    // Non-blocking, so that a named pipe cannot hold the program up.
    const int fd = ::open(EncodeFileName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        const int err = errno;
        setError(error, head + (err == ENOENT ? QStringLiteral("le fichier n'existe pas.")
                                              : FileErrorReason(err) + '.'));
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        setError(error, head + QStringLiteral("ce n'est pas un fichier ordinaire."));
        return false;
    }
    const QString tooBig = head + QStringLiteral("le fichier dépasse %1 Mio.").arg(kPlaylistMaxBytes >> 20);
    if (st.st_size > kPlaylistMaxBytes) {
        ::close(fd);
        setError(error, tooBig);
        return false;
    }
    QByteArray bytes;
    bytes.resize(qsizetype(st.st_size) + 1);
    qsizetype got = 0;
    for (;;) {
        if (got == bytes.size()) {
            if (got > kPlaylistMaxBytes) {
                ::close(fd);
                setError(error, tooBig);
                return false;
            }
            bytes.resize(std::min<qsizetype>(got * 2 + 4096, kPlaylistMaxBytes + 1));
        }
        const ssize_t n = ::read(fd, bytes.data() + got, size_t(bytes.size() - got));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int err = errno;
            ::close(fd);
            setError(error, head + FileErrorReason(err) + '.');
            return false;
        }
        if (n == 0)
            break;
        got += n;
    }
    ::close(fd);
    if (got > kPlaylistMaxBytes) {
        setError(error, tooBig);
        return false;
    }
    bytes.truncate(got);
    if (overEntries(bytes.constData(), bytes.size(), kPlaylistMaxEntries)) {
        setError(error,
                 head + QStringLiteral("elle compte plus de %1 éléments.").arg(count(kPlaylistMaxEntries)));
        return false;
    }
    QStringList readNames, readFolders;
    bool met = false;
    ParsePlaylist(DecodePlaylist(bytes), readNames, readFolders, &met);
    for (const QStringList *list : {&readNames, &readFolders})
        for (const QString &line : *list) {
            if (line.size() > kPlaylistMaxLine) {
                setError(error,
                         head + QStringLiteral("une ligne dépasse %1 caractères, ce n'est pas une liste.")
                                    .arg(kPlaylistMaxLine));
                return false;
            }
            // A name cannot hold a NUL: the path would be cut at it.
            if (const qsizetype nul = line.indexOf(QChar(0)); nul >= 0) {
                setError(error, head + QStringLiteral("l'élément %1 contient un caractère nul.")
                                           .arg(quoted(line.left(nul) + "…")));
                return false;
            }
        }
    names = std::move(readNames);
    folders = std::move(readFolders);
    if (separator)
        *separator = met;
    return true;
}

bool PlaylistBytes(const QStringList &names, const QStringList &folders, QByteArray &out, QString *error) {
    out.clear();
    const bool ok = encodePlaylist(
        names, folders, qsizetype(1) << 20,
        [&out](const QByteArray &piece) {
            out.append(piece);
            return true;
        },
        error);
    if (!ok)
        out.clear();
    return ok;
}

bool WritePlaylist(const QString &path, const QStringList &names, const QStringList &folders,
                   QString *error) {
    const QString head =
        QStringLiteral("La liste %1 n'a pas pu être enregistrée : ").arg(quoted(listName(path)));
    AtomicFile file(path);
    QString why;
    const bool encoded = file.open() && encodePlaylist(
                                            names, folders, qsizetype(1) << 20,
                                            [&](const QByteArray &piece) { return file.write(piece); }, &why);
    if (encoded && file.commit())
        return true;
    setError(error, head + (file.error() != 0 ? FileErrorReason(file.error()) + '.' : why));
    return false;
}

QStringList ListPlaylists(const QString &folder) {
    constexpr qsizetype suffixLen = 4;
    QStringList names;
    for (const QString &file : ListMatchingFiles(folder, QStringLiteral("*") + kPlaylistSuffix)) {
        // Matched without regard to case; only ".tnl" is opened as a list.
        if (file.endsWith(QLatin1String(kPlaylistSuffix)))
            names.append(file.chopped(suffixLen));
    }
    // Sorted again: without its suffix a name may sort elsewhere.
    return SortedCaseFolded(names);
}

bool RenamePlaylist(const QString &oldName, const QString &newName, QString *error) {
    const QString head = QStringLiteral("La liste %1 n'a pas pu être renommée : ").arg(quoted(oldName));
    const QString bad = CheckPlaylistName(newName);
    if (!bad.isEmpty()) {
        setError(error, bad);
        return false;
    }
    if (newName == oldName)
        return true;
    const QByteArray from = EncodeFileName(PlaylistPath(oldName));
    const QByteArray to = EncodeFileName(PlaylistPath(newName));
    struct stat st {};
    if (::stat(from.constData(), &st) != 0 || !S_ISREG(st.st_mode)) {
        setError(error, head + QStringLiteral("elle n'existe plus."));
        return false;
    }
    // Never replaces a file that is there: an existing list would be lost.
    const int err = RenameNoReplace(from, to);
    if (err == 0)
        return true;
    if (err == EEXIST)
        setError(error, head + QStringLiteral("une liste nommée %1 existe déjà.").arg(quoted(newName)));
    else if (err == ENOENT)
        setError(error, head + QStringLiteral("elle n'existe plus."));
    else
        setError(error, head + FileErrorReason(err) + '.');
    return false;
}

bool DeletePlaylist(const QString &name, QString *error) {
    if (::unlink(EncodeFileName(PlaylistPath(name)).constData()) == 0)
        return true;
    const int err = errno;
    const QString head = QStringLiteral("La liste %1 n'a pas pu être effacée : ").arg(quoted(name));
    setError(error,
             head + (err == ENOENT ? QStringLiteral("elle n'existe plus.") : FileErrorReason(err) + '.'));
    return false;
}

void RemoveStalePlaylistSaves() {
    RemoveStaleTemporaries(PlaylistFolder(), QByteArray(kAtomicSavePrefix));
}
