#pragma once

#include <QString>

// Exact length in seconds of an MPEG audio file (layers I to III, MPEG 1, 2
// and 2.5), found by walking its frame headers; a Xing, Info or VBRI frame
// carries no sound and is not counted. Negative when the file holds no
// run of valid frames. Much cheaper than decoding or demuxing the file.
double MpegAudioDuration(const QString &path);
