#include "support/mediafiles.h"

#include <QDir>
#include <QFile>

#include <gst/gst.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace testmedia {
namespace {

QString writeFile(const QString &dir, const QString &name, const QByteArray &bytes) {
    const QString path = QDir(dir).filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        return {};
    return path;
}

void putLE(QByteArray &out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.append(char((value >> (8 * i)) & 0xff));
}

void putBE(QByteArray &out, uint32_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i)
        out.append(char((value >> (8 * i)) & 0xff));
}

// 80-bit IEEE extended, as AIFF stores its sample rate.
void putExtended(QByteArray &out, double value) {
    int exponent = 0;
    const double mantissa = std::frexp(value, &exponent); // value = m * 2^e, 0.5 <= m < 1
    const uint64_t bits = uint64_t(std::ldexp(mantissa, 64));
    putBE(out, uint32_t(exponent - 1 + 16383), 2);
    putBE(out, uint32_t(bits >> 32), 4);
    putBE(out, uint32_t(bits & 0xffffffffu), 4);
}

uint32_t frameCount(const Tone &tone) {
    return uint32_t(std::llround(tone.seconds * tone.sampleRate));
}

QByteArray pcm16(const Tone &tone, bool bigEndian) {
    QByteArray out;
    const uint32_t frames = frameCount(tone);
    out.reserve(int(frames * tone.channels * 2));
    for (uint32_t i = 0; i < frames; ++i) {
        const double v = tone.amplitude * std::sin(2 * M_PI * tone.freqHz * i / tone.sampleRate);
        const auto sample = uint16_t(int16_t(std::lround(std::clamp(v, -1.0, 1.0) * 32767)));
        for (int c = 0; c < tone.channels; ++c)
            bigEndian ? putBE(out, sample, 2) : putLE(out, sample, 2);
    }
    return out;
}

QByteArray aiffCommon(const Tone &tone, bool aifc) {
    QByteArray comm;
    putBE(comm, uint32_t(tone.channels), 2);
    putBE(comm, frameCount(tone), 4);
    putBE(comm, 16, 2);
    putExtended(comm, tone.sampleRate);
    if (aifc) {
        comm.append("NONE");
        const QByteArray label = "not compressed";
        comm.append(char(label.size()));
        comm.append(label);
        if ((label.size() + 1) % 2)
            comm.append('\0');
    }
    return comm;
}

QString writeAiff(const QString &dir, const QString &name, const Tone &tone, bool aifc) {
    QByteArray body = aifc ? "AIFC" : "AIFF";
    if (aifc) {
        body.append("FVER");
        putBE(body, 4, 4);
        putBE(body, 0xA2805140u, 4);
    }
    const QByteArray comm = aiffCommon(tone, aifc);
    body.append("COMM");
    putBE(body, uint32_t(comm.size()), 4);
    body.append(comm);
    const QByteArray data = pcm16(tone, true);
    body.append("SSND");
    putBE(body, uint32_t(data.size() + 8), 4);
    putBE(body, 0, 4); // offset
    putBE(body, 0, 4); // block size
    body.append(data);
    QByteArray file = "FORM";
    putBE(file, uint32_t(body.size()), 4);
    file.append(body);
    return writeFile(dir, name, file);
}

// Runs a gst-launch pipeline ending in "filesink name=out" to EOS.
QString encode(const QString &dir, const QString &name, const QString &description) {
    if (!gst_init_check(nullptr, nullptr, nullptr))
        return {};
    const QString path = QDir(dir).filePath(name);
    GError *error = nullptr;
    GstElement *pipeline = gst_parse_launch(description.toUtf8().constData(), &error);
    if (error) {
        g_error_free(error);
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

// audiotestsrc producing exactly the tone's length, in 10 ms buffers.
QString toneSource(const Tone &tone) {
    const int perBuffer = std::max(1, tone.sampleRate / 100);
    const long buffers = std::max(1L, std::lround(tone.seconds * tone.sampleRate / perBuffer));
    return QStringLiteral("audiotestsrc wave=sine freq=%1 volume=%2 num-buffers=%3 samplesperbuffer=%4 ! "
                          "audio/x-raw,format=S16LE,rate=%5,channels=%6 ")
        .arg(tone.freqHz)
        .arg(tone.amplitude)
        .arg(buffers)
        .arg(perBuffer)
        .arg(tone.sampleRate)
        .arg(tone.channels);
}

} // namespace

QString MakeWav(const QString &dir, const QString &name, const Tone &tone) {
    const QByteArray data = pcm16(tone, false);
    QByteArray file = "RIFF";
    putLE(file, uint32_t(36 + data.size()), 4);
    file.append("WAVEfmt ");
    putLE(file, 16, 4);
    putLE(file, 1, 2); // PCM
    putLE(file, uint32_t(tone.channels), 2);
    putLE(file, uint32_t(tone.sampleRate), 4);
    putLE(file, uint32_t(tone.sampleRate * tone.channels * 2), 4);
    putLE(file, uint32_t(tone.channels * 2), 2);
    putLE(file, 16, 2);
    file.append("data");
    putLE(file, uint32_t(data.size()), 4);
    file.append(data);
    return writeFile(dir, name, file);
}

QString MakeAu(const QString &dir, const QString &name, const Tone &tone) {
    const QByteArray data = pcm16(tone, true);
    QByteArray file = ".snd";
    putBE(file, 24, 4);
    putBE(file, uint32_t(data.size()), 4);
    putBE(file, 3, 4); // 16-bit linear PCM
    putBE(file, uint32_t(tone.sampleRate), 4);
    putBE(file, uint32_t(tone.channels), 4);
    file.append(data);
    return writeFile(dir, name, file);
}

QString MakeAiff(const QString &dir, const QString &name, const Tone &tone) {
    return writeAiff(dir, name, tone, false);
}

QString MakeAifc(const QString &dir, const QString &name, const Tone &tone) {
    return writeAiff(dir, name, tone, true);
}

QString MakeMidi(const QString &dir, const QString &name, double seconds, int note) {
    constexpr int kDivision = 480;      // ticks per quarter note
    constexpr uint32_t kTempo = 500000; // microseconds per quarter: 120 bpm
    const auto ticks = uint32_t(std::lround(seconds * 2 * kDivision));
    auto varLen = [](QByteArray &out, uint32_t value) {
        QByteArray bytes;
        bytes.prepend(char(value & 0x7f));
        while (value >>= 7)
            bytes.prepend(char((value & 0x7f) | 0x80));
        out.append(bytes);
    };
    QByteArray track;
    track.append('\0');
    track.append("\xff\x51\x03", 3);
    putBE(track, kTempo, 3);
    track.append('\0');
    track.append("\xc0\x00", 2); // program: acoustic grand piano
    track.append('\0');
    track.append(char(0x90));
    track.append(char(note));
    track.append(char(100));
    varLen(track, ticks);
    track.append(char(0x80));
    track.append(char(note));
    track.append(char(0));
    track.append('\0');
    track.append("\xff\x2f\x00", 3);

    QByteArray file = "MThd";
    putBE(file, 6, 4);
    putBE(file, 0, 2); // format 0
    putBE(file, 1, 2); // one track
    putBE(file, kDivision, 2);
    file.append("MTrk");
    putBE(file, uint32_t(track.size()), 4);
    file.append(track);
    return writeFile(dir, name, file);
}

QString MakeMp3(const QString &dir, const QString &name, const Tone &tone, Mp3Kind kind) {
    QString encoder;
    switch (kind) {
    case Mp3Kind::VbrXing:
        encoder = "lamemp3enc target=quality quality=4 ! xingmux";
        break;
    case Mp3Kind::VbrHeaderless:
        encoder = "lamemp3enc target=quality quality=4";
        break;
    case Mp3Kind::Cbr192:
        encoder = "lamemp3enc target=bitrate cbr=true bitrate=192";
        break;
    }
    return encode(dir, name, toneSource(tone) + "! " + encoder + " ! filesink name=out");
}

QString MakeMp2(const QString &dir, const QString &name, const Tone &tone) {
    return encode(dir, name, toneSource(tone) + "! avenc_mp2 ! filesink name=out");
}

QString MakeMpeg(const QString &dir, const QString &name, const Tone &tone) {
    const long frames = std::max(1L, std::lround(tone.seconds * 25));
    // mpeg2enc rather than libav's MPEG-1 encoder, whose time base is broken in 1.22.0.
    const QString video = QStringLiteral("videotestsrc num-buffers=%1 ! "
                                         "video/x-raw,format=I420,width=160,height=128,framerate=25/1 ! "
                                         "mpeg2enc format=0 ! mux. ")
                              .arg(frames);
    return encode(dir, name,
                  toneSource(tone) + "! avenc_mp2 ! avmux_mpeg name=mux ! filesink name=out " + video);
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

} // namespace testmedia
