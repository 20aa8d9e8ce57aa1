// Gapless AAC in MP4: the demuxer is handed a movie box it plays exactly.
#include "platform/engine/mp4gapless.h"
#include "platform/filename.h"

#include <gst/gst.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <optional>

namespace {

uint32_t be32(const uint8_t *p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}
uint64_t be64(const uint8_t *p) {
    return (uint64_t(be32(p)) << 32) | be32(p + 4);
}
void put32(uint8_t *p, uint32_t v) {
    for (int i = 3; i >= 0; --i, v >>= 8)
        p[i] = uint8_t(v);
}
void put64(uint8_t *p, uint64_t v) {
    put32(p, uint32_t(v >> 32));
    put32(p + 4, uint32_t(v));
}
constexpr uint32_t code(const char (&s)[5]) {
    return (uint32_t(uint8_t(s[0])) << 24) | (uint32_t(uint8_t(s[1])) << 16) |
           (uint32_t(uint8_t(s[2])) << 8) | uint8_t(s[3]);
}

struct Box {
    std::size_t at = 0, body = 0, end = 0;
    uint32_t type = 0;
    bool narrow() const { return body - at == 8; } // a 32-bit size, which can be rewritten
};

// The boxes directly inside [from, to), up to the first that does not fit.
std::vector<Box> children(const uint8_t *d, std::size_t from, std::size_t to) {
    std::vector<Box> out;
    for (std::size_t pos = from; pos + 8 <= to;) {
        uint64_t size = be32(d + pos);
        std::size_t header = 8;
        if (size == 1) {
            if (pos + 16 > to)
                break;
            size = be64(d + pos + 8);
            header = 16;
        } else if (size == 0) {
            size = to - pos;
        }
        if (size < header || size > to - pos)
            break;
        out.push_back({pos, pos + header, pos + std::size_t(size), be32(d + pos + 4)});
        pos += std::size_t(size);
    }
    return out;
}

std::optional<Box> child(const uint8_t *d, const Box &parent, uint32_t type, std::size_t skip = 0) {
    if (parent.body + skip > parent.end)
        return std::nullopt;
    for (const Box &b : children(d, parent.body + skip, parent.end))
        if (b.type == type)
            return b;
    return std::nullopt;
}

// A version 0 or 1 field: 32 or 64 bits at `narrow` or `wide` into the body.
struct Field {
    std::size_t at = 0;
    bool wide = false;
    uint64_t get(const uint8_t *d) const { return wide ? be64(d + at) : be32(d + at); }
    bool set(uint8_t *d, uint64_t v) const {
        if (!wide && v > UINT32_MAX)
            return false;
        wide ? put64(d + at, v) : put32(d + at, uint32_t(v));
        return true;
    }
};
std::optional<Field> versioned(const uint8_t *d, const Box &b, std::size_t narrow, std::size_t wide) {
    if (b.body + 4 > b.end)
        return std::nullopt;
    const bool v1 = d[b.body] == 1;
    const Field f{b.body + (v1 ? wide : narrow), v1};
    if (f.at + (v1 ? 8 : 4) > b.end)
        return std::nullopt;
    return f;
}

struct Movie {
    Box moov;
    std::optional<Field> movieScale, movieLength; // in mvhd
    int tracks = 0;
    // The first sound track.
    std::optional<Box> trak, elst;
    std::optional<Field> trackLength; // in tkhd, in the movie's scale
    uint32_t mediaScale = 0, entryRate = 0;
    // The iTunSMPB tag and the boxes holding it, outermost first.
    std::optional<Box> smpb;
    std::vector<Box> smpbParents;
    int64_t smpbPriming = -1, smpbKept = 0;
};

bool isSound(const uint8_t *d, const Box &trak) {
    const auto mdia = child(d, trak, code("mdia"));
    const auto hdlr = mdia ? child(d, *mdia, code("hdlr")) : std::nullopt;
    return hdlr && hdlr->body + 12 <= hdlr->end && be32(d + hdlr->body + 8) == code("soun");
}

void readTrack(const uint8_t *d, const Box &trak, Movie &m) {
    m.trak = trak;
    if (const auto tkhd = child(d, trak, code("tkhd")))
        m.trackLength = versioned(d, *tkhd, 20, 28);
    if (const auto edts = child(d, trak, code("edts")))
        m.elst = child(d, *edts, code("elst"));
    const auto mdia = child(d, trak, code("mdia"));
    if (!mdia)
        return;
    if (const auto mdhd = child(d, *mdia, code("mdhd")))
        if (const auto scale = versioned(d, *mdhd, 12, 20))
            m.mediaScale = be32(d + scale->at);
    const auto minf = child(d, *mdia, code("minf"));
    const auto stbl = minf ? child(d, *minf, code("stbl")) : std::nullopt;
    const auto stsd = stbl ? child(d, *stbl, code("stsd")) : std::nullopt;
    const auto entry = stsd ? child(d, *stsd, code("mp4a"), 8) : std::nullopt;
    if (entry && entry->body + 26 <= entry->end)
        m.entryRate = (uint32_t(d[entry->body + 24]) << 8) | d[entry->body + 25];
}

// " 00000000 00000840 000001CA 00000000000A9F14 ...": priming, padding, kept.
void readSmpb(const uint8_t *d, const Box &tag, Movie &m) {
    const auto name = child(d, tag, code("name"));
    const auto data = child(d, tag, code("data"));
    if (!name || !data || name->end - name->body != 12 ||
        std::memcmp(d + name->body + 4, "iTunSMPB", 8) != 0 || data->body + 8 > data->end)
        return;
    const std::string text(reinterpret_cast<const char *>(d + data->body + 8), data->end - data->body - 8);
    std::vector<uint64_t> fields;
    for (std::size_t pos = 0; fields.size() < 4;) {
        pos = text.find_first_not_of(' ', pos);
        if (pos == std::string::npos)
            break;
        const std::size_t stop = std::min(text.find(' ', pos), text.size());
        const std::string word = text.substr(pos, stop - pos);
        if (word.empty() || word.size() > 16 ||
            word.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
            return;
        fields.push_back(std::stoull(word, nullptr, 16));
        pos = stop;
    }
    if (fields.size() == 4 && fields[3] > 0 && fields[1] < (1u << 24) && fields[3] < (uint64_t(1) << 40)) {
        m.smpb = tag;
        m.smpbPriming = int64_t(fields[1]);
        m.smpbKept = int64_t(fields[3]);
    }
}

void findSmpb(const uint8_t *d, const Box &parent, std::vector<Box> chain, Movie &m) {
    chain.push_back(parent);
    std::size_t skip = 0;
    if (parent.type == code("meta") && parent.body + 4 <= parent.end && be32(d + parent.body) == 0)
        skip = 4; // a full box, as the music stores write it
    if (parent.body + skip > parent.end)
        return;
    for (const Box &b : children(d, parent.body + skip, parent.end)) {
        if (m.smpb)
            return;
        if (b.type == code("meta") || b.type == code("ilst")) {
            findSmpb(d, b, chain, m);
        } else if (b.type == code("----") && parent.type == code("ilst")) {
            readSmpb(d, b, m);
            if (m.smpb)
                m.smpbParents = chain;
        }
    }
}

std::optional<Movie> readMovie(const uint8_t *d, std::size_t size) {
    const std::vector<Box> top = children(d, 0, size);
    if (top.size() != 1 || top[0].type != code("moov") || top[0].end != size)
        return std::nullopt;
    Movie m;
    m.moov = top[0];
    for (const Box &b : children(d, m.moov.body, m.moov.end)) {
        if (b.type == code("mvhd")) {
            m.movieScale = versioned(d, b, 12, 20);
            m.movieLength = versioned(d, b, 16, 24);
        } else if (b.type == code("trak")) {
            ++m.tracks;
            if (!m.trak && isSound(d, b))
                readTrack(d, b, m);
        } else if ((b.type == code("udta") || b.type == code("meta")) && !m.smpb) {
            findSmpb(d, b, {m.moov}, m);
        }
    }
    if (!m.movieScale || !m.movieLength || !m.trak)
        return std::nullopt;
    return m;
}

uint64_t rescaled(uint64_t value, uint64_t to, uint64_t from, bool up) {
    return up ? gst_util_uint64_scale_ceil(value, to, from) : gst_util_uint64_scale_round(value, to, from);
}

struct Edit {
    uint64_t length = 0; // in the movie's scale
    int64_t start = -1;  // in the track's
};
std::optional<Edit> singleEdit(const uint8_t *d, const Box &elst) {
    if (elst.body + 8 > elst.end || be32(d + elst.body + 4) != 1)
        return std::nullopt;
    const bool v1 = d[elst.body] == 1;
    const std::size_t entry = elst.body + 8;
    if (entry + (v1 ? 20 : 12) > elst.end)
        return std::nullopt;
    Edit e;
    e.length = v1 ? be64(d + entry) : be32(d + entry);
    e.start = v1 ? int64_t(be64(d + entry + 8)) : int32_t(be32(d + entry + 4));
    return e;
}

// The edit list makes the demuxer end the track in time; the movie's
// length only has to reach past it in media time.
bool lengthenForEdit(uint8_t *d, const Movie &m, const Edit &edit) {
    const uint32_t movieScale = be32(d + m.movieScale->at);
    if (edit.start <= 0 || !movieScale || !m.mediaScale)
        return false;
    const uint64_t needed = rescaled(uint64_t(edit.start), movieScale, m.mediaScale, true) + edit.length;
    return m.movieLength->get(d) < needed && m.movieLength->set(d, needed);
}

// The tag's room becomes a free box 36 bytes shorter; the track gains an
// edit list of 36 bytes. The movie keeps its size, as its header told the
// demuxer; the samples' file offsets do not move.
bool editFromSmpb(std::vector<uint8_t> &moov, const Movie &m) {
    uint8_t *d = moov.data();
    constexpr std::size_t kEdts = 36;
    const Box &tag = *m.smpb;
    if (m.tracks != 1 || m.elst || !m.trak->narrow() || !tag.narrow() || tag.end - tag.at < kEdts + 8 ||
        !m.mediaScale || m.mediaScale != m.entryRate || m.smpbPriming + m.smpbKept > int64_t(UINT32_MAX))
        return false;
    for (std::size_t i = 1; i < m.smpbParents.size(); ++i) // the movie box itself keeps its size
        if (!m.smpbParents[i].narrow())
            return false;
    // The movie takes the track's scale, so the edit ends on a sample, and
    // reaches the edit's end in media time (see lengthenForEdit).
    const uint32_t movieScale = be32(d + m.movieScale->at);
    if (!movieScale)
        return false;
    const uint64_t movieLength =
        std::max<uint64_t>(rescaled(m.movieLength->get(d), m.mediaScale, movieScale, true),
                           uint64_t(m.smpbPriming + m.smpbKept));
    const uint64_t trackLength =
        m.trackLength ? rescaled(m.trackLength->get(d), m.mediaScale, movieScale, true) : 0;
    if ((!m.movieLength->wide && movieLength > UINT32_MAX) ||
        (m.trackLength && !m.trackLength->wide && trackLength > UINT32_MAX))
        return false;
    put32(d + m.movieScale->at, m.mediaScale);
    m.movieLength->set(d, movieLength);
    if (m.trackLength)
        m.trackLength->set(d, trackLength);

    uint8_t edts[kEdts] = {};
    put32(edts, kEdts);
    std::memcpy(edts + 4, "edts", 4);
    put32(edts + 8, kEdts - 8);
    std::memcpy(edts + 12, "elst", 4);
    put32(edts + 20, 1);
    put32(edts + 24, uint32_t(m.smpbKept));
    put32(edts + 28, uint32_t(m.smpbPriming));
    put32(edts + 32, 0x00010000); // played at its own speed

    put32(d + m.trak->at, uint32_t(m.trak->end - m.trak->at + kEdts));
    for (std::size_t i = 1; i < m.smpbParents.size(); ++i)
        put32(d + m.smpbParents[i].at, uint32_t(m.smpbParents[i].end - m.smpbParents[i].at - kEdts));
    put32(d + tag.at, uint32_t(tag.end - tag.at - kEdts));
    std::memcpy(d + tag.at + 4, "free", 4);

    const std::size_t insert = m.trak->end, cut = tag.end - kEdts;
    std::vector<uint8_t> out;
    out.reserve(moov.size());
    auto copy = [&](std::size_t from, std::size_t to) { out.insert(out.end(), d + from, d + to); };
    if (insert < cut) {
        copy(0, insert);
        out.insert(out.end(), edts, edts + kEdts);
        copy(insert, cut);
        copy(cut + kEdts, moov.size());
    } else {
        copy(0, cut);
        copy(cut + kEdts, insert);
        out.insert(out.end(), edts, edts + kEdts);
        copy(insert, moov.size());
    }
    moov.swap(out);
    return true;
}

GstPadProbeReturn mendOnRead(GstPad *, GstPadProbeInfo *info, gpointer) {
    GstBuffer *buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    uint8_t head[8];
    if (!buffer || gst_buffer_extract(buffer, 0, head, 8) != 8 || std::memcmp(head + 4, "moov", 4) != 0 ||
        be32(head) != gst_buffer_get_size(buffer))
        return GST_PAD_PROBE_OK;
    std::vector<uint8_t> moov(gst_buffer_get_size(buffer));
    gst_buffer_extract(buffer, 0, moov.data(), moov.size());
    if (gstengine::mendMovieBox(moov)) {
        GstBuffer *mended = gst_buffer_new_memdup(moov.data(), moov.size());
        gst_buffer_copy_into(mended, buffer, GST_BUFFER_COPY_METADATA, 0, -1);
        gst_buffer_unref(buffer);
        GST_PAD_PROBE_INFO_DATA(info) = mended;
    }
    return GST_PAD_PROBE_REMOVE; // the demuxer reads its movie box once
}

} // namespace

namespace gstengine {

Mp4Sound readMovieSound(const uint8_t *moov, std::size_t size) {
    Mp4Sound sound;
    const std::optional<Movie> m = readMovie(moov, size);
    if (!m || !m->mediaScale)
        return sound;
    sound.scale = m->mediaScale;
    if (m->elst) {
        const std::optional<Edit> edit = singleEdit(moov, *m->elst);
        const uint32_t movieScale = be32(moov + m->movieScale->at);
        if (edit && edit->start >= 0 && movieScale) {
            sound.priming = edit->start;
            sound.kept = int64_t(rescaled(edit->length, m->mediaScale, movieScale, false));
            sound.fromEdit = true;
        }
    } else if (m->smpb && m->mediaScale == m->entryRate) {
        sound.priming = m->smpbPriming;
        sound.kept = m->smpbKept;
    }
    return sound;
}

bool mendMovieBox(std::vector<uint8_t> &moov) {
    const std::optional<Movie> m = readMovie(moov.data(), moov.size());
    if (!m)
        return false;
    if (m->elst) {
        const std::optional<Edit> edit = singleEdit(moov.data(), *m->elst);
        return edit && lengthenForEdit(moov.data(), *m, *edit);
    }
    return m->smpb && editFromSmpb(moov, *m);
}

double Mp4SoundSeconds(const QString &path) {
    const int fd = ::open(EncodeFileName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat st {};
    double seconds = -1;
    constexpr off_t kLargestMovie = 64 << 20;
    if (::fstat(fd, &st) == 0) {
        for (off_t pos = 0; pos + 8 <= st.st_size;) {
            uint8_t head[16];
            if (::pread(fd, head, 16, pos) < 8)
                break;
            off_t length = be32(head);
            if (length == 1 && pos + 16 <= st.st_size)
                length = off_t(std::min<uint64_t>(be64(head + 8), uint64_t(st.st_size)));
            else if (length == 0)
                length = st.st_size - pos;
            if (length < 8 || length > st.st_size - pos)
                break;
            if (std::memcmp(head + 4, "moov", 4) == 0) {
                if (length <= kLargestMovie) {
                    std::vector<uint8_t> moov(static_cast<std::size_t>(length));
                    if (::pread(fd, moov.data(), moov.size(), pos) == ssize_t(moov.size()))
                        seconds = readMovieSound(moov.data(), moov.size()).seconds();
                }
                break;
            }
            pos += length;
        }
    }
    ::close(fd);
    return seconds;
}

void mendMp4Movies(GstElement *playbin) {
    g_signal_connect(
        playbin, "deep-element-added", G_CALLBACK(+[](GstBin *, GstBin *, GstElement *element, gpointer) {
            GstElementFactory *factory = gst_element_get_factory(element);
            if (!factory || g_strcmp0(GST_OBJECT_NAME(factory), "qtdemux") != 0)
                return;
            if (GstPad *sink = gst_element_get_static_pad(element, "sink")) {
                gst_pad_add_probe(sink, GstPadProbeType(GST_PAD_PROBE_TYPE_PULL | GST_PAD_PROBE_TYPE_BUFFER),
                                  mendOnRead, nullptr, nullptr);
                gst_object_unref(sink);
            }
        }),
        nullptr);
}

} // namespace gstengine
