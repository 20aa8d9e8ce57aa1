#pragma once

// Test media written at run time: each function writes `name` into `dir` and
// returns the path, or "" on failure. Tones are sine waves of the given peak
// (1.0 = full scale), 16-bit for PCM. Lengths are exact for PCM and MIDI; the
// MPEG encoders (GStreamer, initialised on first use) add a few tens of ms.

#include <QByteArray>
#include <QString>

namespace testmedia {

struct Tone {
    double seconds = 1.0;
    int sampleRate = 44100;
    int channels = 2;
    double freqHz = 440.0;
    double amplitude = 0.5;
};

// RIFF WAVE, little-endian 16-bit PCM.
QString MakeWav(const QString &dir, const QString &name, const Tone &tone = {});
// Sun/NeXT .au, big-endian 16-bit linear PCM.
QString MakeAu(const QString &dir, const QString &name, const Tone &tone = {});
// AIFF (use a .aiff or .aif name), big-endian 16-bit PCM.
QString MakeAiff(const QString &dir, const QString &name, const Tone &tone = {});
// AIFF-C with the 'NONE' (uncompressed) compression type.
QString MakeAifc(const QString &dir, const QString &name, const Tone &tone = {});

// Standard MIDI File, format 0, 120 bpm: one note held for `seconds`.
QString MakeMidi(const QString &dir, const QString &name, double seconds, int note = 69);

enum class Mp3Kind {
    VbrXing,       // VBR with a Xing header: length known from the header
    VbrHeaderless, // VBR, no header: length only known by parsing every frame
    Cbr192,        // constant 192 kbit/s
};
QString MakeMp3(const QString &dir, const QString &name, const Tone &tone = {},
                Mp3Kind kind = Mp3Kind::VbrXing);
// MPEG-1 Layer II, constant bitrate.
QString MakeMp2(const QString &dir, const QString &name, const Tone &tone = {});
// MPEG program stream: MPEG-1 video (160x128, 25 fps) and Layer II audio.
QString MakeMpeg(const QString &dir, const QString &name, const Tone &tone = {});

// FLAC, sample-exact.
QString MakeFlac(const QString &dir, const QString &name, const Tone &tone = {});
// Ogg Vorbis (use a .ogg or .oga name).
QString MakeVorbis(const QString &dir, const QString &name, const Tone &tone = {});
// Ogg Opus, resampled to 48 kHz; the length is exact once the pre-skip is dropped.
QString MakeOpus(const QString &dir, const QString &name, const Tone &tone = {});
// AAC in MP4 (.m4a) with the encoder's delay in an edit list, as ffmpeg
// writes it, or in an iTunSMPB tag and no edit list, as the music stores do.
enum class M4aDelay { EditList, StoreTag };
QString MakeM4a(const QString &dir, const QString &name, const Tone &tone = {},
                M4aDelay delay = M4aDelay::EditList);
// Adds an iTunSMPB tag to an MP4 made with no edit list and its movie box
// last: `priming` samples to skip, `kept` to play.
bool AddStoreTag(const QString &path, uint32_t priming, uint64_t kept);

// Any bytes under any name, e.g. text in a file called "faux.mp3".
QString MakeFile(const QString &dir, const QString &name, const QByteArray &contents);
// Copy of the first `fraction` of `source` (a cut-off download).
QString MakeTruncated(const QString &source, const QString &dir, const QString &name, double fraction = 0.5);

// Files that must not take a player down: for each type (wav, au, aiff,
// aif, aifc, mp3, mp2, mid, mpg, flac, ogg, opus, m4a) an empty file, random bytes, text, a copy
// cut short in its header and one cut in its data, and one whose header
// claims more than the file holds. Written into `dir`; returns their paths
// ("" entries left out), sorted by name.
QStringList MakeHostileCorpus(const QString &dir);

} // namespace testmedia
