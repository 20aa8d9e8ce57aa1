#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// File names on Linux are bytes and need not be UTF-8. The program carries
// them as QString all the way from the file list to the media control, the
// settings and the play-lists, so an undecodable name must survive the trip:
// each byte that is not part of valid UTF-8 is kept as one private-use
// character (U+F780 to U+F7FF). A real character of that range has its own
// bytes escaped the same way, so decoding is one-to-one.

// Bytes from the file system to the name the program carries.
QString DecodeFileName(QByteArrayView bytes);
// The name the program carries back to the file system's bytes.
QByteArray EncodeFileName(const QString &name);
// The name as shown to the user: escaped bytes read as Windows-1252.
QString DisplayFileName(const QString &name);
// True when the name holds escaped bytes.
bool HasEscapedBytes(const QString &name);
