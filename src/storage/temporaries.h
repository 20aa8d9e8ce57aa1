#pragma once

#include <QByteArray>
#include <QString>

// A temporary older than this is what a killed save left: a save in
// progress, ours or another running copy's, writes its file within seconds.
inline constexpr int kStaleTemporarySeconds = 60;

// Removes from `folder` the regular files named `prefix` followed by the six
// letters and digits a temporary name is made of (two kinds of them at
// least, so that a word or a date is left alone), whose last change is older
// than kStaleTemporarySeconds. Nothing else is touched: not a folder, not a
// link, not a name of another shape.
void RemoveStaleTemporaries(const QString &folder, const QByteArray &prefix);
