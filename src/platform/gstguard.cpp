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

// What the chunks of an AIFF or AIFF-C file say: the form, then chunks
// padded to an even length; the sound needs its description (COMM) and its
// data (SSND, starting inside the file).
struct AiffChunks {
    bool form = false;
    int channels = -1; // -1: no readable description
    int bits = 0;
    bool data = false;
};

AiffChunks readAiff(int fd, off_t size) {
    AiffChunks out;
    unsigned char head[12];
    if (::pread(fd, head, sizeof head, 0) != ssize_t(sizeof head) || std::memcmp(head, "FORM", 4) != 0 ||
        (std::memcmp(head + 8, "AIFF", 4) != 0 && std::memcmp(head + 8, "AIFC", 4) != 0))
        return out;
    out.form = true;
    off_t pos = 12;
    while (pos + 8 <= size && (out.channels < 0 || !out.data)) {
        unsigned char chunk[16];
        const ssize_t got = ::pread(fd, chunk, sizeof chunk, pos);
        if (got < 8)
            break;
        const off_t length = off_t(bigEndian32(chunk + 4));
        if (std::memcmp(chunk, "COMM", 4) == 0 && got == 16) {
            out.channels = (int(chunk[8]) << 8) | chunk[9];
            out.bits = (int(chunk[14]) << 8) | chunk[15];
            if (length < 18 || length > size - pos - 8)
                out.bits = 0; // a description longer than the file
        } else if (std::memcmp(chunk, "SSND", 4) == 0 && got == 16) {
            // A cut-off download keeps what it holds: only the start must be there.
            out.data = length > 8 && pos + 16 + off_t(bigEndian32(chunk + 8)) < size;
        }
        pos += 8 + length + (length & 1);
    }
    return out;
}

// libav's AIFF demuxer takes any channel count; from 64 on, the converter
// behind it fails an assertion and the player crashes.
bool aiffChannelsPlayable(int channels) {
    return channels >= 1 && channels < 64;
}

bool aiffIsSound(int fd, off_t size) {
    const AiffChunks aiff = readAiff(fd, size);
    return aiff.form && aiffChannelsPlayable(aiff.channels) && aiff.bits >= 1 && aiff.bits <= 32 && aiff.data;
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
    // Whatever its name: the demuxer is picked by the content.
    const AiffChunks aiff = readAiff(file.fd, st.st_size);
    if (aiff.form && aiff.channels >= 0 && !aiffChannelsPlayable(aiff.channels))
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
    if (suffix == "aiff" || suffix == "aif" || suffix == "aifc")
        return aiffIsSound(file.fd, st.st_size);
    if (suffix == "au" || suffix == "snd") {
        const uint32_t offset = bigEndian32(head + 4);
        return std::memcmp(head, ".snd", 4) == 0 && offset >= 24 && off_t(offset) < st.st_size;
    }
    return false;
}

} // namespace gstengine
