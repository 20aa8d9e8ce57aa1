// Checks made before a file reaches its decoder, for formats whose decoders
// trust the lengths the file claims.
#include "platform/engine/engine.h"
#include "platform/engine/gstreasons.h"
#include "platform/engine/mpegaudio.h"
#include "platform/filename.h"

#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <vector>

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

constexpr uint32_t kLargestTrack = 16 << 20;

// A MIDI variable-length number: up to four bytes, seven bits each. The
// bytes used, 0 when it does not end inside the track.
size_t varLength(const unsigned char *p, size_t left, uint32_t &value) {
    value = 0;
    for (size_t i = 0; i < 4 && i < left; ++i) {
        value = (value << 7) | (p[i] & 0x7f);
        if (!(p[i] & 0x80))
            return i + 1;
    }
    return 0;
}

// Walks a track's events as the MIDI decoder does when it measures the
// song. An event it cannot size (a system message other than SysEx, or a
// SysEx or meta event running past the track) stops it from moving on, and
// it then loops for ever on the streaming thread.
bool trackIsReadable(const std::vector<unsigned char> &track) {
    const unsigned char *data = track.data();
    const size_t size = track.size();
    size_t at = 0;
    unsigned char running = 0xff; // the decoder starts as if after a meta event
    for (;;) {
        uint32_t delta = 0;
        const size_t used = at < size ? varLength(data + at, size - at, delta) : 0;
        if (used == 0)
            return true; // the track ends here for the decoder too
        at += used;
        if (at >= size)
            return true;
        const unsigned char status = data[at];
        const unsigned char event = (status & 0x80) ? status : running;
        if (event == 0xff) {
            uint32_t length = 0;
            const size_t n = at + 2 <= size ? varLength(data + at + 2, size - at - 2, length) : 0;
            if (n == 0 || length > size - at - 2 - n)
                return false;
            at += 2 + n + length;
        } else if (event == 0xf0 || event == 0xf7) {
            uint32_t length = 0;
            const size_t n = varLength(data + at + 1, size - at - 1, length);
            if (n == 0 || length > size - at - 1 - n)
                return false;
            at += 1 + n + length;
        } else if (event >= 0xf0) {
            return false;
        } else {
            const size_t length = (event & 0xf0) == 0xc0 || (event & 0xf0) == 0xd0 ? 1 : 2;
            at += (status & 0x80) ? length + 1 : length;
        }
        if (event < 0xf8)
            running = event;
    }
}

// A Standard MIDI File is a header chunk then track chunks, each an id and
// a 32-bit big-endian length. The MIDI decoder reads a track by the length
// it claims, past the end of a shorter file, and trusts its events.
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
    // Ticks per quarter note: none makes every event infinitely late.
    if (((unsigned(head[12]) << 8) | head[13]) == 0)
        return false;
    off_t pos = 8 + off_t(headerLength);
    unsigned found = 0;
    std::vector<unsigned char> track;
    while (pos + 8 <= size) {
        unsigned char chunk[8];
        if (::pread(fd, chunk, sizeof chunk, pos) != ssize_t(sizeof chunk))
            return false;
        const uint32_t length = bigEndian32(chunk + 4);
        if (off_t(length) > size - pos - 8)
            return false;
        // The decoder ignores tracks beyond the count the header gives.
        if (std::memcmp(chunk, "MTrk", 4) == 0 && found++ < tracks) {
            // Songs hold kilobytes; this is read on the interface thread.
            if (length > kLargestTrack)
                return false;
            track.resize(length);
            if (::pread(fd, track.data(), length, pos + 8) != ssize_t(length) || !trackIsReadable(track))
                return false;
        }
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
    double rate = 0;
    bool knownCoding = true; // AIFF-C: a coding the demuxer decodes
    bool data = false;
    bool whole = false; // the data chunk ends inside the file
};

// The sample rate, an 80-bit IEEE extended number.
double extended80(const unsigned char *p) {
    const int exponent = ((p[0] & 0x7f) << 8) | p[1];
    uint64_t mantissa = 0;
    for (int i = 2; i < 10; ++i)
        mantissa = (mantissa << 8) | p[i];
    return std::ldexp(double(mantissa), exponent - 16383 - 63);
}

bool knownAifcCoding(const unsigned char *type) {
    static const char *const kCodings[] = {"NONE", "sowt", "twos", "raw ", "fl32", "FL32", "fl64",
                                           "FL64", "in24", "in32", "ulaw", "ULAW", "alaw", "ALAW"};
    return std::any_of(std::begin(kCodings), std::end(kCodings),
                       [&](const char *c) { return std::memcmp(type, c, 4) == 0; });
}

AiffChunks readAiff(int fd, off_t size) {
    AiffChunks out;
    unsigned char head[12];
    if (::pread(fd, head, sizeof head, 0) != ssize_t(sizeof head) || std::memcmp(head, "FORM", 4) != 0 ||
        (std::memcmp(head + 8, "AIFF", 4) != 0 && std::memcmp(head + 8, "AIFC", 4) != 0))
        return out;
    out.form = true;
    const bool compressed = std::memcmp(head + 8, "AIFC", 4) == 0;
    off_t pos = 12;
    while (pos + 8 <= size && (out.channels < 0 || !out.data)) {
        unsigned char chunk[30];
        const ssize_t got = ::pread(fd, chunk, sizeof chunk, pos);
        if (got < 8)
            break;
        const off_t length = off_t(bigEndian32(chunk + 4));
        if (std::memcmp(chunk, "COMM", 4) == 0 && got >= 26) {
            out.channels = (int(chunk[8]) << 8) | chunk[9];
            out.bits = (int(chunk[14]) << 8) | chunk[15];
            out.rate = extended80(chunk + 16);
            if (length < 18 || length > size - pos - 8)
                out.bits = 0; // a description longer than the file
            if (compressed)
                out.knownCoding = length >= 22 && got == 30 && knownAifcCoding(chunk + 26);
        } else if (std::memcmp(chunk, "SSND", 4) == 0 && got >= 16) {
            // A cut-off download keeps what it holds: only the start must be there.
            out.data = length > 8 && pos + 16 + off_t(bigEndian32(chunk + 8)) < size;
            out.whole = pos + 8 + length <= size;
        }
        pos += 8 + length + (length & 1);
    }
    return out;
}

// libav's AIFF demuxer takes any channel count; from 64 on, the converter
// behind it fails an assertion and the player crashes.
// MP4: top-level boxes that fit the file, one of them the movie's
// description, another its whole media data. A download cut short loses
// the description (written last) or part of the data.
bool mp4IsWhole(int fd, off_t size) {
    bool movie = false, media = false;
    for (off_t pos = 0; pos + 8 <= size;) {
        unsigned char box[16];
        if (::pread(fd, box, 16, pos) < 8)
            return false;
        off_t length = off_t(bigEndian32(box));
        if (length == 1) { // a 64-bit size follows the type
            if (pos + 16 > size)
                return false;
            const uint64_t wide = (uint64_t(bigEndian32(box + 8)) << 32) | bigEndian32(box + 12);
            if (wide > uint64_t(size))
                return false;
            length = off_t(wide);
        } else if (length == 0) {
            length = size - pos; // to the end of the file
        }
        if (length < 8 || pos + length > size)
            return false;
        movie = movie || std::memcmp(box + 4, "moov", 4) == 0;
        media = media || std::memcmp(box + 4, "mdat", 4) == 0;
        pos += length;
    }
    return movie && media;
}

bool aiffChannelsPlayable(int channels) {
    return channels >= 1 && channels < 64;
}

// The demuxer does not walk the chunks by their lengths as readAiff does
// (a version chunk claiming 64 KB does not hide the description after it
// from it): every description near the start must be playable.
bool aiffDescriptionsPlayable(int fd, off_t size) {
    unsigned char head[4096];
    const ssize_t got = ::pread(fd, head, size_t(std::min<off_t>(size, off_t(sizeof head))), 0);
    for (ssize_t at = 12; at + 10 <= got; ++at)
        if (std::memcmp(head + at, "COMM", 4) == 0 &&
            !aiffChannelsPlayable((int(head[at + 8]) << 8) | head[at + 9]))
            return false;
    return true;
}

// Stricter than for an open: libav's demuxer can stall playbin's switch,
// with no error, on a file an open would play or refuse, such as a cut-off
// one or an absurd sample rate.
bool aiffIsSound(int fd, off_t size) {
    const AiffChunks aiff = readAiff(fd, size);
    return aiff.form && aiffChannelsPlayable(aiff.channels) && aiff.bits >= 1 && aiff.bits <= 32 &&
           aiff.rate >= 1000 && aiff.rate <= 768000 && aiff.knownCoding && aiff.data && aiff.whole &&
           aiffDescriptionsPlayable(fd, size);
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
    // Whatever its name: the demuxer is picked by the content. An MP4 cut
    // short would leave its demuxer waiting for the open to time out.
    char box[4] = {};
    if (::pread(file.fd, box, 4, 4) == 4 && std::memcmp(box, "ftyp", 4) == 0 &&
        !mp4IsWhole(file.fd, st.st_size))
        return gstreason::NotRecognised;
    const AiffChunks aiff = readAiff(file.fd, st.st_size);
    if (aiff.form && ((aiff.channels >= 0 && !aiffChannelsPlayable(aiff.channels)) ||
                      !aiffDescriptionsPlayable(file.fd, st.st_size)))
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
    if (suffix == "flac")
        return std::memcmp(head, "fLaC", 4) == 0 && st.st_size > 42; // marker then STREAMINFO
    if (suffix == "ogg" || suffix == "oga" || suffix == "opus") {
        // The first page holds one packet: the codec's identification header.
        unsigned char first[40];
        if (std::memcmp(head, "OggS", 4) != 0 ||
            ::pread(file.fd, first, sizeof first, 0) != ssize_t(sizeof first))
            return false;
        const unsigned char *packet = first + 27 + first[26];
        if (first[26] != 1 || packet + 8 > first + sizeof first)
            return false;
        return std::memcmp(packet, "OpusHead", 8) == 0 || std::memcmp(packet, "\x01vorbis", 7) == 0 ||
               std::memcmp(packet,
                           "\x7f"
                           "FLAC",
                           5) == 0;
    }
    if (suffix == "m4a")
        return std::memcmp(head + 4, "ftyp", 4) == 0 && mp4IsWhole(file.fd, st.st_size);
    return false;
}

} // namespace gstengine
