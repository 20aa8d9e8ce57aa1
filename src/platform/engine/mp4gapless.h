#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <vector>

typedef struct _GstElement GstElement;

namespace gstengine {

// What the movie box of an AAC-in-MP4 file says of the sound its encoder
// meant: the samples to skip at the start and how many to keep, from the
// audio track's edit list or, failing one, from an iTunSMPB tag.
struct Mp4Sound {
    int64_t priming = -1; // in the track's own time scale; -1 when the file tells nothing
    int64_t kept = 0;
    uint32_t scale = 0;
    bool fromEdit = false;
    double seconds() const { return priming >= 0 && scale ? double(kept) / scale : -1; }
};
Mp4Sound readMovieSound(const uint8_t *moov, std::size_t size);

// Rewrites a movie box, at its size, so that GStreamer 1.22's MP4 demuxer
// plays what the encoder meant: it ends a track at the movie's length taken
// as media time, a track's priming later, so an edited AAC loses its last
// frame (the movie is lengthened by the priming); and it knows no iTunSMPB
// (the tag becomes the edit it describes, in the room the tag held).
// False when nothing was changed; a box it cannot read is left untouched.
bool mendMovieBox(std::vector<uint8_t> &moov);

// The exact length of an MP4 file's sound, -1 when its movie box does not
// give it. Reads the movie box only.
double Mp4SoundSeconds(const QString &path);

// Mends the movie box of every MP4 file the pipeline plays as its demuxer
// reads it.
void mendMp4Movies(GstElement *playbin);

} // namespace gstengine
