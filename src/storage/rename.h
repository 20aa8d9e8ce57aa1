#pragma once

#include <QByteArray>

// Renames `from` to `to` (file-system bytes), never replacing a file that
// is there; 0, or the errno (EEXIST when `to` is taken).
int RenameNoReplace(const QByteArray &from, const QByteArray &to);
