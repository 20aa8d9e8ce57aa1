// Checks made before a file reaches its decoder, for formats whose decoders
// trust the lengths the file claims.
#include "platform/filename.h"
#include "platform/gstmediacontrol.h"
#include "platform/gstreasons.h"
#include "platform/mpegaudio.h"

#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

namespace {

struct Fd {
    int fd;
    ~Fd() {
        if (fd >= 0)
            ::close(fd);
    }
};

uint32_t bigEndian32(const unsigned char *p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

// A Standard MIDI File is a header chunk then track chunks, each an id and
// a 32-bit big-endian length. The MIDI decoder reads a track by the length
// it claims, past the end of a shorter file.
bool midiIsSound(int fd, off_t size) {
    unsigned char head[14];
    if (size < 14 || ::pread(fd, head, sizeof head, 0) != ssize_t(sizeof head))
        return false;
    if (std::memcmp(head, "MThd", 4) != 0)
        return false;
    const uint32_t headerLength = bigEndian32(head + 4);
    if (headerLength < 6 || off_t(headerLength) > size - 8)
        return false;
    const unsigned tracks = (unsigned(head[10]) << 8) | head[11];
    off_t pos = 8 + off_t(headerLength);
    unsigned found = 0;
    while (pos + 8 <= size) {
        unsigned char chunk[8];
        if (::pread(fd, chunk, sizeof chunk, pos) != ssize_t(sizeof chunk))
            return false;
        const uint32_t length = bigEndian32(chunk + 4);
        if (off_t(length) > size - pos - 8)
            return false;
        if (std::memcmp(chunk, "MTrk", 4) == 0)
            ++found;
        pos += 8 + off_t(length);
    }
    // Trailing bytes too short for a chunk are tolerated; missing tracks are not.
    return found > 0 && found >= tracks;
}

} // namespace

namespace gstengine {

const char *structureProblem(const QString &path) {
    const Fd file{::open(EncodeFileName(path).constData(), O_RDONLY | O_CLOEXEC)};
    if (file.fd < 0)
        return nullptr; // the open itself reports what is wrong
    struct stat st {};
    if (::fstat(file.fd, &st) != 0 || !S_ISREG(st.st_mode))
        return nullptr;
    char magic[4] = {};
    const bool midiMagic = ::pread(file.fd, magic, 4, 0) == 4 && std::memcmp(magic, "MThd", 4) == 0;
    const QString suffix = QFileInfo(path).suffix().toLower();
    const bool midiName = suffix == "mid" || suffix == "midi" || suffix == "kar";
    if ((midiMagic || midiName) && !midiIsSound(file.fd, st.st_size))
        return gstreason::NotRecognised;
    return nullptr;
}

bool looksLikeItsKind(const QString &path) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == "mp3" || suffix == "mp2" || suffix == "mpa" || suffix == "mpga")
        return MpegAudioDuration(path) > 0;
    const Fd file{::open(EncodeFileName(path).constData(), O_RDONLY | O_CLOEXEC)};
    struct stat st {};
    unsigned char head[24];
    if (file.fd < 0 || ::fstat(file.fd, &st) != 0 ||
        ::pread(file.fd, head, sizeof head, 0) != ssize_t(sizeof head))
        return false;
    if (suffix == "wav")
        return std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "WAVE", 4) == 0 && st.st_size > 44;
    if (suffix == "au" || suffix == "snd") {
        const uint32_t offset = bigEndian32(head + 4);
        return std::memcmp(head, ".snd", 4) == 0 && offset >= 24 && off_t(offset) < st.st_size;
    }
    return false;
}

} // namespace gstengine
