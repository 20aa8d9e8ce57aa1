#pragma once

#include <QString>
#include <QStringList>

// Sorted alphabetically without regard to case: by case-folded name, names
// that fold alike by their characters.
QStringList SortedCaseFolded(const QStringList &names);

// Names of the regular files of `folder` ("" is the root) matching a
// pattern like "*.mp3;*.wav", the suffixes matched without regard to case
// (a name that is only a suffix, like ".mp3", is none); sorted as above. Names are carried as
// DecodeFileName gives them (platform/filename.h). Reads the folder with
// readdir: no per-file stat unless the file system gives no type.
QStringList ListMatchingFiles(const QString &folder, const QString &pattern);
