#include "fuzz/targets.h"

#include "platform/desktop/handoverclient.h"
#include "platform/desktop/handoverparser.h"
#include "platform/engine/gstmediacontrol.h"
#include "platform/engine/mp4gapless.h"
#include "platform/engine/mpegaudio.h"
#include "platform/filename.h"
#include "platform/settingsstore.h"
#include "storage/playlist.h"
#include "storage/settingskeys.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace fuzz {

namespace {

QTemporaryDir *scratch() {
    static std::unique_ptr<QTemporaryDir> dir;
    if (!dir)
        dir = std::make_unique<QTemporaryDir>(QDir::tempPath() + "/tunabel-fuzz-XXXXXX");
    return dir.get();
}

// The bytes as a file of the scratch folder with the given suffix. A new
// name each time: readers may keep an answer for an unchanged file, and a
// rewrite within one clock tick keeps its time stamp.
QString asFile(const uint8_t *data, size_t size, const char *suffix) {
    static unsigned serial = 0;
    const QString path = scratch()->path() + QString("/input-%1.%2").arg(++serial).arg(suffix);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return {};
    file.write(reinterpret_cast<const char *>(data), qint64(size));
    return path;
}

QByteArray bytesOf(const uint8_t *data, size_t size) {
    return QByteArray(reinterpret_cast<const char *>(data), qsizetype(size));
}

} // namespace

void Init() {
    SetSettingsFolder(scratch()->path() + "/settings");
    SetPlaylistFolder(scratch()->path() + "/lists");
}

bool Playlist(const uint8_t *data, size_t size) {
    QStringList names, folders;
    bool separator = false;
    ParsePlaylist(DecodePlaylist(bytesOf(data, size)), names, folders, &separator);
    // An entry is one whole line: never empty, never holding a line end.
    for (const QStringList *list : {&names, &folders})
        for (const QString &entry : *list)
            if (entry.isEmpty() || entry.contains('\r') || entry.contains('\n'))
                return false;
    if (!separator && !folders.isEmpty())
        return false;
    // The reader of files takes the same entries, or refuses the whole file
    // and leaves the programme as it was.
    const QString path = asFile(data, size, "tnl");
    QStringList readNames{"avant"}, readFolders{"/avant/"};
    QString refusal;
    const bool read = ReadPlaylist(path, readNames, readFolders, &refusal);
    QFile::remove(path);
    if (!read &&
        (refusal.isEmpty() || readNames != QStringList{"avant"} || readFolders != QStringList{"/avant/"}))
        return false;
    if (read && (readNames != names || readFolders != folders))
        return false;
    for (const QStringList *list : {&readNames, &readFolders})
        for (const QString &entry : *list)
            if (read && (entry.contains(QChar(0)) || entry.size() > kPlaylistMaxLine))
                return false;
    // What can be written reads back as it was.
    QByteArray out;
    QString error;
    if (PlaylistBytes(names, folders, out, &error)) {
        QStringList names2, folders2;
        ParsePlaylist(DecodePlaylist(out), names2, folders2);
        if (names2 != names || folders2 != folders)
            return false;
    }
    return true;
}

namespace {

// A request batch as the running player receives it, fed in pieces of
// `piece` bytes; the status after the last piece.
handover::RequestParser::Status parseInPieces(const QByteArray &bytes, qsizetype piece,
                                              QStringList *requests) {
    handover::RequestParser parser;
    auto status = handover::RequestParser::Status::NeedMore;
    for (qsizetype at = 0; at < bytes.size(); at += piece)
        status = parser.feed(bytes.constData() + at, std::min(piece, bytes.size() - at));
    *requests = parser.requests();
    return status;
}

void putU32(QByteArray &out, unsigned v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.append(char(v >> shift));
}

} // namespace

bool Handover(const uint8_t *data, size_t size) {
    if (size == 0)
        return true;
    const char *rest = reinterpret_cast<const char *>(data + 1);
    if (data[0] & 1) {
        // The wire: however the bytes are cut, the same answer; a batch taken
        // is exactly what was sent.
        using Status = handover::RequestParser::Status;
        const QByteArray bytes(rest, qsizetype(size - 1));
        QStringList whole, pieces;
        const Status once = parseInPieces(bytes, qMax<qsizetype>(1, bytes.size()), &whole);
        const Status cut = parseInPieces(bytes, (data[0] >> 1) + 1, &pieces);
        if (once != cut)
            return false;
        if (once != Status::Done)
            return true;
        if (whole != pieces || unsigned(whole.size()) > handover::kMaxRequests)
            return false;
        QByteArray again(handover::kMagic, sizeof handover::kMagic);
        putU32(again, unsigned(whole.size()));
        for (const QString &request : whole) {
            const QByteArray path = EncodeFileName(request);
            putU32(again, unsigned(path.size()));
            again += path;
        }
        return again == bytes;
    }
    // A command-line argument, as the command wraps it for the player (an
    // argument ends at its first NUL).
    const std::string argument(rest, strnlen(rest, size - 1));
    const std::string wrapped = handover::WrapArgument(argument, "/home/user");
    if (!wrapped.empty()) {
        if (wrapped.size() < 3 || wrapped.front() != '[' || wrapped.back() != ']' || wrapped[1] != '/' ||
            wrapped.find('\0') != std::string::npos)
            return false;
    }
    return true;
}

bool Settings(const uint8_t *data, size_t size) {
    if (size == 0)
        return true;
    const QByteArray rest = bytesOf(data + 1, size - 1);
    const QString folder = scratch()->path() + "/settings";
    switch (data[0] % 4) {
    case 0: {
        // Folder paths are kept as file names: any bytes come back the same.
        return EncodeFileName(DecodeFileName(rest)) == rest;
    }
    case 1: {
        // A value written is the value read after a restart. (No path holds
        // a NUL.)
        if (rest.contains('\0'))
            return true;
        const QString value = DecodeFileName(rest);
        SetSettingsFolder(folder);
        Save(Keys::Path, value);
        SetSettingsFolder(folder);
        return Setting(Keys::Path) == value;
    }
    case 2: {
        // Whatever lies in the file, it reads without harm and takes a write.
        QDir(folder).removeRecursively();
        QDir().mkpath(folder);
        QFile file(SettingsFilePath("Tunabel"));
        if (!file.open(QIODevice::WriteOnly))
            return true;
        file.write(rest);
        file.close();
        SetSettingsFolder(folder);
        (void)Setting(Keys::Mode);
        (void)GetAllSettings("Tunabel", Keys::Favoris);
        Save(Keys::Volume, "42");
        SetSettingsFolder(folder);
        return Setting(Keys::Volume) == "42";
    }
    default: {
        qint64 number = 0;
        const QString text = QString::fromUtf8(rest);
        if (!ParseStoredNumber(text, number))
            return true;
        // Only plain decimal digits, and the number they say.
        const bool negative = text.startsWith('-');
        const QString digits = negative ? text.mid(1) : text;
        bool ok = false;
        const qint64 again = digits.toLongLong(&ok);
        if (!ok || (negative ? -again : again) != number)
            return false;
        if (number >= 0 && number <= 0xFFFFFF && StoredColor(ColorFromStored(number)) != number)
            return false;
        return true;
    }
    }
}

bool Midi(const uint8_t *data, size_t size) {
    const QString path = asFile(data, size, "mid");
    const char *problem = gstengine::structureProblem(path);
    QFile::remove(path);
    return problem == nullptr || std::string(problem).size() > 0;
}

bool Aiff(const uint8_t *data, size_t size) {
    // Taken by its content whatever its name: checked under both.
    const QString aiff = asFile(data, size, "aiff");
    const QString wav = asFile(data, size, "wav");
    (void)gstengine::structureProblem(aiff);
    (void)gstengine::structureProblem(wav);
    (void)gstengine::looksLikeItsKind(aiff);
    QFile::remove(aiff);
    QFile::remove(wav);
    return true;
}

bool Mpeg(const uint8_t *data, size_t size) {
    const QString path = asFile(data, size, "mp3");
    const double seconds = MpegAudioDuration(path);
    (void)gstengine::looksLikeItsKind(path);
    QFile::remove(path);
    // No sound is -1; otherwise a length the display can show.
    return seconds == -1 || (std::isfinite(seconds) && seconds >= 0);
}

// A movie box as the demuxer hands it over: read and mended at its size,
// and as a whole file, read for its length.
bool Mp4(const uint8_t *data, size_t size) {
    std::vector<uint8_t> moov(data, data + size);
    const double seconds = gstengine::readMovieSound(moov.data(), moov.size()).seconds();
    const bool mended = gstengine::mendMovieBox(moov);
    const bool sameSize =
        moov.size() == size && (!mended || (gstengine::mendMovieBox(moov), moov.size() == size));
    const QString path = asFile(data, size, "m4a");
    const double fromFile = gstengine::Mp4SoundSeconds(path);
    QFile::remove(path);
    auto valid = [](double s) { return s == -1 || (std::isfinite(s) && s >= 0); };
    return sameSize && valid(seconds) && valid(fromFile);
}

} // namespace fuzz
