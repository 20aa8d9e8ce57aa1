#pragma once

#include <QString>
#include <QStringList>

// The favourite folders, kept in the settings' "Favoris" section: keys "0"
// to "9", each a folder path.
inline constexpr int kMaxFavourites = 10;

// The stored favourites in their order: keys that are numbers in numeric
// order, then any other keys; empty values are left out. `keys` gets the
// key of each.
QStringList ReadFavourites(QStringList *keys = nullptr);
// Stores `folder` under the first key of "0" to "9" not in use; false when
// every one is.
bool AddFavourite(const QString &folder);
// Stores `folders` as keys "0" onwards, then removes every other key: an
// interrupted write leaves each favourite stored somewhere.
void SaveFavourites(const QStringList &folders);
