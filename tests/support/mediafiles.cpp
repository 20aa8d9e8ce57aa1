#include "support/mediafiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QtEndian>

#include <gst/gst.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <initializer_list>

namespace testmedia {
namespace {

QString writeFile(const QString &dir, const QString &name, const QByteArray &bytes) {
    const QString path = QDir(dir).filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        return {};
    return path;
}

struct Field {
    uint32_t value;
    int bytes;
};

// Appends each field, `bytes` wide, in the byte order of the format.
QByteArray &put(QByteArray &out, bool bigEndian, std::initializer_list<Field> fields) {
    for (const Field &f : fields)
        for (int i = 0; i < f.bytes; ++i)
            out.append(char((f.value >> (8 * (bigEndian ? f.bytes - 1 - i : i))) & 0xff));
    return out;
}

// An IFF-style chunk: id, 32-bit size, body.
QByteArray chunk(const char *id, const QByteArray &body, bool bigEndian) {
    QByteArray out(id);
    return put(out, bigEndian, {{uint32_t(body.size()), 4}}).append(body);
}

uint32_t frameCount(const Tone &tone) {
    return uint32_t(std::llround(tone.seconds * tone.sampleRate));
}

QByteArray pcm16(const Tone &tone, bool bigEndian) {
    QByteArray out;
    for (uint32_t i = 0; i < frameCount(tone); ++i) {
        const double v = tone.amplitude * std::sin(2 * M_PI * tone.freqHz * i / tone.sampleRate);
        const auto sample = uint16_t(int16_t(std::lround(std::clamp(v, -1.0, 1.0) * 32767)));
        for (int c = 0; c < tone.channels; ++c)
            put(out, bigEndian, {{sample, 2}});
    }
    return out;
}

QString writeAiff(const QString &dir, const QString &name, const Tone &tone, bool aifc) {
    QByteArray comm;
    put(comm, true, {{uint32_t(tone.channels), 2}, {frameCount(tone), 4}, {16, 2}});
    // The sample rate as an 80-bit IEEE extended.
    int exponent = 0;
    const auto bits = uint64_t(std::ldexp(std::frexp(tone.sampleRate, &exponent), 64));
    put(comm, true, {{uint32_t(exponent - 1 + 16383), 2}, {uint32_t(bits >> 32), 4}, {uint32_t(bits), 4}});
    QByteArray body = aifc ? "AIFC" : "AIFF";
    if (aifc) {
        comm.append("NONE\x0enot compressed\0", 20);
        body.append(chunk("FVER", QByteArray("\xa2\x80\x51\x40", 4), true));
    }
    QByteArray ssnd;
    put(ssnd, true, {{0, 4}, {0, 4}}).append(pcm16(tone, true)); // offset, block size
    body.append(chunk("COMM", comm, true)).append(chunk("SSND", ssnd, true));
    return writeFile(dir, name, chunk("FORM", body, true));
}

// Runs a gst-launch pipeline ending in "filesink name=out" to EOS.
QString encode(const QString &dir, const QString &name, const QString &description) {
    if (!gst_init_check(nullptr, nullptr, nullptr))
        return {};
    const QString path = QDir(dir).filePath(name);
    g_autoptr(GError) error = nullptr;
    GstElement *pipeline = gst_parse_launch(description.toUtf8().constData(), &error);
    if (error || !pipeline) {
        if (pipeline)
            gst_object_unref(pipeline);
        return {};
    }
    GstElement *sink = gst_bin_get_by_name(GST_BIN(pipeline), "out");
    g_object_set(sink, "location", QFile::encodeName(path).constData(), nullptr);
    gst_object_unref(sink);
    bool ok = false;
    if (gst_element_set_state(pipeline, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE) {
        GstBus *bus = gst_element_get_bus(pipeline);
        GstMessage *msg = gst_bus_timed_pop_filtered(bus, 60 * GST_SECOND,
                                                     GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
        ok = msg && GST_MESSAGE_TYPE(msg) == GST_MESSAGE_EOS;
        if (msg)
            gst_message_unref(msg);
        gst_object_unref(bus);
    }
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    return ok ? path : QString();
}

// audiotestsrc producing exactly the tone's length, in 10 ms buffers, then `encoder`.
QString encodeTone(const QString &dir, const QString &name, const Tone &tone, const QString &encoder,
                   const QString &rest = {}) {
    const int perBuffer = std::max(1, tone.sampleRate / 100);
    const long buffers = std::max(1L, std::lround(tone.seconds * tone.sampleRate / perBuffer));
    return encode(
        dir, name,
        QStringLiteral("audiotestsrc wave=sine freq=%1 volume=%2 num-buffers=%3 samplesperbuffer=%4 ! "
                       "audio/x-raw,format=S16LE,rate=%5,channels=%6 ! %7 ! filesink name=out %8")
            .arg(tone.freqHz)
            .arg(tone.amplitude)
            .arg(buffers)
            .arg(perBuffer)
            .arg(tone.sampleRate)
            .arg(tone.channels)
            .arg(encoder, rest));
}

} // namespace

QString MakeWav(const QString &dir, const QString &name, const Tone &tone) {
    const auto ch = uint32_t(tone.channels), rate = uint32_t(tone.sampleRate);
    QByteArray fmt;
    put(fmt, false, {{1, 2}, {ch, 2}, {rate, 4}, {rate * ch * 2, 4}, {ch * 2, 2}, {16, 2}}); // PCM
    const QByteArray body = "WAVE" + chunk("fmt ", fmt, false) + chunk("data", pcm16(tone, false), false);
    return writeFile(dir, name, chunk("RIFF", body, false));
}

QString MakeAu(const QString &dir, const QString &name, const Tone &tone) {
    const QByteArray data = pcm16(tone, true);
    QByteArray file = ".snd"; // 16-bit linear PCM is encoding 3
    put(file, true,
        {{24, 4},
         {uint32_t(data.size()), 4},
         {3, 4},
         {uint32_t(tone.sampleRate), 4},
         {uint32_t(tone.channels), 4}});
    return writeFile(dir, name, file + data);
}

QString MakeAiff(const QString &dir, const QString &name, const Tone &tone) {
    return writeAiff(dir, name, tone, false);
}

QString MakeAifc(const QString &dir, const QString &name, const Tone &tone) {
    return writeAiff(dir, name, tone, true);
}

QString MakeMidi(const QString &dir, const QString &name, double seconds, int note) {
    constexpr int kDivision = 480; // ticks per quarter note; tempo 500000 us per quarter is 120 bpm
    auto ticks = uint32_t(std::lround(seconds * 2 * kDivision));
    QByteArray delta(1, char(ticks & 0x7f)); // variable-length quantity
    while (ticks >>= 7)
        delta.prepend(char((ticks & 0x7f) | 0x80));
    QByteArray track("\0\xff\x51\x03\x07\xa1\x20\0\xc0\0\0\x90", 12); // tempo, piano, note on
    track.append(char(note)).append(char(100)).append(delta).append(char(0x80)).append(char(note));
    track.append("\0\0\xff\x2f\0", 5); // note off, end of track
    QByteArray header;                 // format 0, one track
    put(header, true, {{0, 2}, {1, 2}, {kDivision, 2}});
    return writeFile(dir, name, chunk("MThd", header, true) + chunk("MTrk", track, true));
}

QString MakeFlac(const QString &dir, const QString &name, const Tone &tone) {
    return encodeTone(dir, name, tone, "flacenc");
}

QString MakeVorbis(const QString &dir, const QString &name, const Tone &tone) {
    return encodeTone(dir, name, tone, "audioconvert ! vorbisenc ! oggmux");
}

QString MakeOpus(const QString &dir, const QString &name, const Tone &tone) {
    return encodeTone(dir, name, tone, "audioresample ! audio/x-raw,rate=48000 ! opusenc ! oggmux");
}

// By ffmpeg, which writes the encoder's delay and padding in an edit list as
// the files of music stores carry them (GStreamer's muxer writes none).
QString MakeM4a(const QString &dir, const QString &name, const Tone &tone, M4aDelay delay) {
    const QString ffmpeg = QStandardPaths::findExecutable("ffmpeg");
    const QString source = MakeWav(dir, name + ".source.wav", tone);
    if (ffmpeg.isEmpty() || source.isEmpty())
        return {};
    const QString out = dir + "/" + name;
    QStringList args = {"-loglevel", "error", "-nostdin", "-y", "-i", source, "-c:a", "aac", "-b:a", "160k"};
    if (delay == M4aDelay::StoreTag)
        args << "-use_editlist"
             << "0";
    QProcess p;
    p.start(ffmpeg, args << out);
    bool ok = p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    const qint64 frames = (QFileInfo(source).size() - 44) / (2 * tone.channels);
    QFile::remove(source);
    if (ok && delay == M4aDelay::StoreTag)
        ok = AddStoreTag(out, 1024, uint64_t(frames)); // ffmpeg's AAC encoder primes 1,024 samples
    return ok ? out : QString();
}

bool AddStoreTag(const QString &path, uint32_t priming, uint64_t kept) {
    QFile f(path);
    if (!f.open(QIODevice::ReadWrite))
        return false;
    QByteArray file = f.readAll();
    auto box = [](const char *type, const QByteArray &body) {
        QByteArray out;
        put(out, true, {{uint32_t(body.size() + 8), 4}});
        return out + type + body;
    };
    const QByteArray zero(4, 0);
    const QByteArray text =
        QString::asprintf(" 00000000 %08X 00000000 %016llX 00000000 00000000 00000000 00000000 "
                          "00000000 00000000 00000000 00000000",
                          priming, static_cast<unsigned long long>(kept))
            .toLatin1();
    const QByteArray tag =
        box("----", box("mean", zero + "com.apple.iTunes") + box("name", zero + "iTunSMPB") +
                        box("data", QByteArray("\x00\x00\x00\x01", 4) + zero + text));
    // The tag goes last in the movie's item list; the boxes around it grow.
    const qsizetype moov = file.lastIndexOf("moov") - 4, ilst = file.lastIndexOf("ilst") - 4;
    if (moov < 0 || ilst < moov || file.indexOf("edts", moov) >= 0)
        return false;
    auto size = [&](qsizetype at) { return qsizetype(qFromBigEndian<quint32>(file.constData() + at)); };
    if (moov + size(moov) != file.size())
        return false; // the samples' offsets would move
    const qsizetype end = ilst + size(ilst);
    for (const char *type : {"moov", "udta", "meta", "ilst"}) {
        const qsizetype at = file.lastIndexOf(type, ilst + 4) - 4;
        if (at < moov || at + size(at) < end)
            return false;
        qToBigEndian(quint32(size(at) + tag.size()), file.data() + at);
    }
    file.insert(end, tag);
    return f.seek(0) && f.write(file) == file.size();
}

QString MakeMp3(const QString &dir, const QString &name, const Tone &tone, Mp3Kind kind) {
    const char *encoder = kind == Mp3Kind::VbrXing         ? "lamemp3enc target=quality quality=4 ! xingmux"
                          : kind == Mp3Kind::VbrHeaderless ? "lamemp3enc target=quality quality=4"
                                                           : "lamemp3enc target=bitrate cbr=true bitrate=192";
    return encodeTone(dir, name, tone, encoder);
}

QString MakeMp2(const QString &dir, const QString &name, const Tone &tone) {
    return encodeTone(dir, name, tone, "avenc_mp2");
}

QString MakeMpeg(const QString &dir, const QString &name, const Tone &tone) {
    // mpeg2enc rather than libav's MPEG-1 encoder, whose time base is broken in 1.22.0.
    const QString video = QStringLiteral("videotestsrc num-buffers=%1 ! "
                                         "video/x-raw,format=I420,width=160,height=128,framerate=25/1 ! "
                                         "mpeg2enc format=0 ! mux.")
                              .arg(std::max(1L, std::lround(tone.seconds * 25)));
    return encodeTone(dir, name, tone, "avenc_mp2 ! avmux_mpeg name=mux", video);
}

QString MakeFile(const QString &dir, const QString &name, const QByteArray &contents) {
    return writeFile(dir, name, contents);
}

QString MakeTruncated(const QString &source, const QString &dir, const QString &name, double fraction) {
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return {};
    const QByteArray all = in.readAll();
    return writeFile(dir, name, all.left(qsizetype(all.size() * std::clamp(fraction, 0.0, 1.0))));
}

namespace {

// Overwrites 4 bytes at `at` with a big- or little-endian value.
void poke32(QByteArray &bytes, qsizetype at, uint32_t value, bool bigEndian) {
    if (at + 4 > bytes.size())
        return;
    QByteArray v;
    put(v, bigEndian, {{value, 4}});
    bytes.replace(at, 4, v);
}

QByteArray readAll(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The header of `good` made to claim far more than the file holds.
QByteArray lying(const QString &type, QByteArray good) {
    constexpr uint32_t huge = 0x7ffffff0;
    if (type == "wav") {
        poke32(good, 4, huge, false);
        poke32(good, good.indexOf("data") + 4, huge, false);
    } else if (type == "au") {
        poke32(good, 4, huge, true); // data offset past the end
    } else if (type == "aiff" || type == "aif" || type == "aifc") {
        poke32(good, 4, huge, true);
        poke32(good, good.indexOf("COMM") + 10, huge, true); // frame count
        poke32(good, good.indexOf("SSND") + 4, huge, true);
    } else if (type == "mid") {
        poke32(good, good.indexOf("MTrk") + 4, huge, true);
    } else if (type == "mp3" || type == "mp2") {
        // An ID3v2 tag claiming most of a large file, then the frames.
        good.prepend(QByteArray("ID3\x04\x00\x00\x7f\x7f\x7f\x7f", 10));
    } else if (type == "flac" && good.size() > 26) {
        // STREAMINFO claiming 2^36 - 1 samples.
        good[21] = char(good[21] | 0x0f);
        for (int i = 22; i < 26; ++i)
            good[i] = char(0xff);
    } else if (type == "ogg" || type == "opus") {
        // Every page's granule position far past the end.
        for (qsizetype at = good.indexOf("OggS"); at >= 0 && at + 14 <= good.size();
             at = good.indexOf("OggS", at + 4))
            for (int i = 6; i < 13; ++i)
                good[at + i] = char(0xff);
    } else if (type == "m4a" && good.indexOf("mvhd") >= 0) {
        poke32(good, good.indexOf("mvhd") + 20, huge, true); // the movie's duration
    } else if (type == "mpg") {
        // Program stream packets whose lengths run past the end.
        for (qsizetype at = good.indexOf(QByteArray("\x00\x00\x01\xe0", 4)); at >= 0 && at + 6 <= good.size();
             at = good.indexOf(QByteArray("\x00\x00\x01\xe0", 4), at + 4)) {
            good[at + 4] = char(0xff);
            good[at + 5] = char(0xff);
        }
    }
    return good;
}

// The same file with a lie inside its description: 514 channels, or for
// MIDI a system message no decoder can size; empty for the other kinds.
QByteArray lyingInside(const QString &type, QByteArray good) {
    if (type == "wav") {
        good[22] = 2;
        good[23] = 2;
    } else if (type == "au") {
        poke32(good, 20, 514, true);
    } else if (type == "aiff" || type == "aif" || type == "aifc") {
        const qsizetype comm = good.indexOf("COMM");
        good[comm + 8] = 2;
        good[comm + 9] = 2;
    } else if (type == "mid") {
        good[good.indexOf("MTrk") + 8 + 11] = char(0xf6); // in place of a note on
    } else {
        return {};
    }
    return good;
}

} // namespace

QStringList MakeHostileCorpus(const QString &dir) {
    const QString src = QDir(dir).filePath(".sources");
    QDir().mkpath(src);
    const Tone tone{0.5};
    const std::vector<std::pair<QString, QString>> goods = {
        {"wav", MakeWav(src, "g.wav", tone)},    {"au", MakeAu(src, "g.au", tone)},
        {"aiff", MakeAiff(src, "g.aiff", tone)}, {"aif", MakeAiff(src, "g.aif", tone)},
        {"aifc", MakeAifc(src, "g.aifc", tone)}, {"mp3", MakeMp3(src, "g.mp3", tone)},
        {"mp2", MakeMp2(src, "g.mp2", tone)},    {"mid", MakeMidi(src, "g.mid", 0.5)},
        {"mpg", MakeMpeg(src, "g.mpg", tone)},   {"flac", MakeFlac(src, "g.flac", tone)},
        {"ogg", MakeVorbis(src, "g.ogg", tone)}, {"opus", MakeOpus(src, "g.opus", tone)},
        {"m4a", MakeM4a(src, "g.m4a", tone)}};
    QStringList out;
    uint32_t seed = 12345;
    for (const auto &[type, good] : goods) {
        const QByteArray bytes = readAll(good);
        if (bytes.isEmpty())
            continue;
        QByteArray noise(4096, 0);
        for (char &c : noise) {
            seed = seed * 1664525u + 1013904223u; // a fixed sequence, the same corpus every run
            c = char(seed >> 24);
        }
        const std::vector<std::pair<QString, QByteArray>> files = {
            {"vide", QByteArray()},
            {"bruit", noise},
            {"texte", QByteArray("Ceci est une liste de courses, pas un morceau.\n").repeated(40)},
            {"entete", bytes.left(std::min<qsizetype>(bytes.size() / 2, 40))},
            {"coupe", bytes.left(bytes.size() / 3)},
            {"menteur", lying(type, bytes).left(bytes.size() / 2)},
            {"incoherent", lyingInside(type, bytes)},
        };
        for (const auto &[kind, contents] : files) {
            if (kind == "incoherent" && contents.isEmpty())
                continue;
            const QString path = writeFile(dir, kind + "-" + type + "." + type, contents);
            if (!path.isEmpty())
                out << path;
        }
    }
    out.sort();
    return out;
}

} // namespace testmedia
