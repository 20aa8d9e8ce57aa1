#include "platform/engine/mpegaudio.h"

#include "platform/filename.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <mutex>

namespace {

struct Frame {
    int length = 0;  // bytes, header included
    int samples = 0; // per channel
    int rate = 0;
    int sideInfo = 0; // bytes of side information after the header (layer III)
};

// Parses a 4-byte frame header; false when it is not one.
bool parseHeader(const uint8_t *h, Frame &f) {
    if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0)
        return false;
    const int version = (h[1] >> 3) & 3; // 0: 2.5, 2: 2, 3: 1
    const int layer = (h[1] >> 1) & 3;   // 1: III, 2: II, 3: I
    const int bitrateIndex = h[2] >> 4;
    const int rateIndex = (h[2] >> 2) & 3;
    const int padding = (h[2] >> 1) & 1;
    const bool mono = (h[3] >> 6) == 3;
    if (version == 1 || layer == 0 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3)
        return false;
    static const int rates[3] = {44100, 48000, 32000};
    static const int kbps[2][3][15] = {
        // MPEG 1: layer I, II, III
        {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
         {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
         {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
        // MPEG 2 and 2.5
        {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}}};
    const bool v1 = version == 3;
    const int layerIndex = 3 - layer; // 0: I, 1: II, 2: III
    const int bitrate = kbps[v1 ? 0 : 1][layerIndex][bitrateIndex] * 1000;
    f.rate = rates[rateIndex] >> (version == 3 ? 0 : version == 2 ? 1 : 2);
    if (layerIndex == 0) {
        f.samples = 384;
        f.length = (12 * bitrate / f.rate + padding) * 4;
    } else {
        f.samples = layerIndex == 2 && !v1 ? 576 : 1152;
        f.length = f.samples / 8 * bitrate / f.rate + padding;
    }
    f.sideInfo = layerIndex != 2 ? 0 : v1 ? (mono ? 17 : 32) : (mono ? 9 : 17);
    return f.length >= 4;
}

bool isInfoFrame(const uint8_t *frame, qsizetype available, const Frame &f) {
    const auto tagAt = [&](qsizetype offset, const char *tag) {
        return offset + 4 <= available && std::memcmp(frame + offset, tag, 4) == 0;
    };
    return tagAt(4 + f.sideInfo, "Xing") || tagAt(4 + f.sideInfo, "Info") || tagAt(36, "VBRI");
}

} // namespace

namespace {
double walkFrames(int fd);
} // namespace

double MpegAudioDuration(const QString &path) {
    // Opened by its bytes: the name need not be valid UTF-8.
    const int fd = ::open(EncodeFileName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    // The next file is walked when it is offered for a gapless switch and
    // again when it opens: the last answer is kept for the same unchanged file.
    struct Walked {
        QString path;
        dev_t dev = 0;
        ino_t ino = 0;
        off_t size = -1;
        timespec mtime{};
        double seconds = -1;
    };
    static std::mutex lastMutex;
    static Walked last;
    struct stat st {};
    const bool known = ::fstat(fd, &st) == 0;
    const auto same = [&](const Walked &w) {
        return known && w.path == path && w.dev == st.st_dev && w.ino == st.st_ino && w.size == st.st_size &&
               w.mtime.tv_sec == st.st_mtim.tv_sec && w.mtime.tv_nsec == st.st_mtim.tv_nsec;
    };
    {
        std::lock_guard lock(lastMutex);
        if (same(last)) {
            ::close(fd);
            return last.seconds;
        }
    }
    const double seconds = walkFrames(fd);
    if (known) {
        std::lock_guard lock(lastMutex);
        last = {path, st.st_dev, st.st_ino, st.st_size, st.st_mtim, seconds};
    }
    return seconds;
}

namespace {

// The walk itself; takes the descriptor over.
double walkFrames(int fd) {
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return -1;
    }
    const qint64 size = file.size();
    uchar *map = size > 0 ? file.map(0, size) : nullptr;
    if (!map)
        return -1;
    const uint8_t *data = map;
    qint64 pos = 0;
    // An ID3v2 tag in front: 10 bytes of header, a size in 7-bit bytes.
    if (size >= 10 && std::memcmp(data, "ID3", 3) == 0) {
        const qint64 tag = (qint64(data[6] & 0x7F) << 21) | (data[7] << 14) | (data[8] << 7) | data[9];
        pos = 10 + tag + ((data[5] & 0x10) ? 10 : 0);
    }
    qint64 samples = 0;
    int rate = 0;
    int frames = 0;
    bool first = true;
    Frame f;
    while (pos + 4 <= size) {
        if (!parseHeader(data + pos, f) || (rate && f.rate != rate)) {
            if (frames > 0 && pos + 3 <= size && std::memcmp(data + pos, "TAG", 3) == 0)
                break; // ID3v1 at the end
            ++pos;     // lost sync: look for the next header
            continue;
        }
        // Before the first frame is trusted, the next header must follow it.
        if (frames == 0) {
            Frame next;
            if (pos + f.length + 4 <= size && !parseHeader(data + pos + f.length, next)) {
                ++pos;
                continue;
            }
        }
        if (!(first && isInfoFrame(data + pos, size - pos, f))) {
            samples += f.samples;
            rate = f.rate;
            ++frames;
        }
        first = false;
        pos += f.length;
    }
    file.unmap(map);
    if (frames == 0 || rate == 0)
        return -1;
    return double(samples) / rate;
}

} // namespace
