#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Play-list files: the programme's file names, an empty line, the folder of
// each entry (ending with "/"), an empty line. Written as UTF-8 without a
// byte-order mark, every line ending with CR LF. Names that hold escaped
// bytes (platform/filename.h) are written as the characters they are, so
// they read back identically.
//
// Every function that can fail returns false and puts a French sentence,
// naming the list and the reason, into *error.

inline constexpr const char *kPlaylistSuffix = ".tnl";
// Larger files are refused rather than read.
inline constexpr qint64 kPlaylistMaxBytes = qint64(64) << 20;
// No file name or folder is longer than this (PATH_MAX); a longer line means
// the file is not a play-list, and showing it would hold the window up.
inline constexpr qsizetype kPlaylistMaxLine = 4096;
// Entries a list may bring, and a programme handed over in one go: far above
// a real programme (a whole music library), small enough that the largest
// accepted list (some 15 MB) fills the programme in under a second, where
// ten million entries held the window 8 s and took over 1 GB. A list over it
// is refused as soon as its lines are counted, before any entry is made.
inline constexpr qsizetype kPlaylistMaxEntries = 200000;

// The per-user folder of the saved play-lists, without a trailing "/". It
// may not exist yet: it is made by the first save (MakePlaylistFolder).
QString PlaylistFolder();
// Points the play-list folder elsewhere ("" gives the default back); tests
// use a temporary one.
void SetPlaylistFolder(const QString &folder);
bool MakePlaylistFolder(QString *error);
// The file of the list called `name` in the play-list folder.
QString PlaylistPath(const QString &name);
// "" when `name` can name a list file in the play-list folder; otherwise
// why not: blanks only, a leading "." (a hidden file), a "/" or a NUL, or
// too long for a file name.
QString CheckPlaylistName(const QString &name);

// The one reading rule. Lines end at CR LF, LF or CR; the empty line
// switches to the folder block and starts it again from its first entry.
// `names` and `folders` are replaced. `separator` tells whether an empty
// line was met.
void ParsePlaylist(QStringView text, QStringList &names, QStringList &folders, bool *separator = nullptr);
// The text of a play-list file: UTF-8 (a leading byte-order mark skipped),
// or Windows-1252 when the bytes are not valid UTF-8.
QString DecodePlaylist(const QByteArray &bytes);
// Reads the file at `path` by the rule above. On failure (missing,
// unreadable, not a regular file, over kPlaylistMaxBytes, more than
// kPlaylistMaxEntries names or folders, a line over kPlaylistMaxLine or
// holding a NUL) the lists are left as they were.
bool ReadPlaylist(const QString &path, QStringList &names, QStringList &folders, QString *error,
                  bool *separator = nullptr);

// The bytes of a play-list; false when an entry cannot be stored one per
// line (empty, holding a line break or a NUL, or over kPlaylistMaxLine), or
// when there are more than kPlaylistMaxEntries of them.
bool PlaylistBytes(const QStringList &names, const QStringList &folders, QByteArray &out, QString *error);
// Writes the file atomically: either the whole new file is in place, or the
// earlier file is left as it was.
bool WritePlaylist(const QString &path, const QStringList &names, const QStringList &folders, QString *error);

// The names of the lists in `folder` (file names ending with ".tnl" less
// that suffix), regular files only, sorted without regard to case. A
// missing or unreadable folder gives an empty list.
QStringList ListPlaylists(const QString &folder);
// Renames a list of the play-list folder; refuses a new name that is not
// valid or already taken (nothing is ever overwritten).
bool RenamePlaylist(const QString &oldName, const QString &newName, QString *error);
bool DeletePlaylist(const QString &name, QString *error);
// Removes what killed saves left in the play-list folder: regular files
// named like our temporaries, old enough (RemoveStaleTemporaries).
void RemoveStalePlaylistSaves();
