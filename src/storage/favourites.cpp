#include "storage/favourites.h"

#include "platform/settingsstore.h"
#include "storage/settingskeys.h"

#include <QVector>

#include <algorithm>

namespace {

constexpr const char *kApplication = "Tunabel";

// A key made of digits only, and short enough to be a number.
bool numericKey(const QString &key, qint64 &value) {
    if (key.isEmpty() || key.size() > 9)
        return false;
    for (const QChar c : key)
        if (c < '0' || c > '9')
            return false;
    value = key.toLongLong();
    return true;
}

} // namespace

QStringList ReadFavourites(QStringList *keys) {
    struct Entry {
        bool numeric;
        qint64 number;
        QString key, value;
    };
    QVector<Entry> entries;
    for (const auto &pair : GetAllSettings(kApplication, Keys::Favoris)) {
        if (pair.second.isEmpty())
            continue;
        qint64 n = 0;
        const bool numeric = numericKey(pair.first, n);
        entries.push_back({numeric, n, pair.first, pair.second});
    }
    // The store sorts keys as text ("10" before "2"); the order is the number.
    std::stable_sort(entries.begin(), entries.end(), [](const Entry &a, const Entry &b) {
        if (a.numeric != b.numeric)
            return a.numeric;
        if (a.numeric && a.number != b.number)
            return a.number < b.number;
        return a.key < b.key;
    });
    QStringList values;
    for (const Entry &e : entries) {
        values << e.value;
        if (keys)
            *keys << e.key;
    }
    return values;
}

bool AddFavourite(const QString &folder) {
    // The first key not in use: a section with a gap loses nothing.
    QStringList keys;
    ReadFavourites(&keys);
    for (int k = 0; k < kMaxFavourites; ++k) {
        const QString key = QString::number(k);
        if (!keys.contains(key)) {
            SaveSetting(kApplication, Keys::Favoris, key, folder);
            return true;
        }
    }
    return false;
}

void SaveFavourites(const QStringList &folders) {
    const auto all = GetAllSettings(kApplication, Keys::Favoris);
    const qsizetype count = folders.size();
    for (qsizetype i = 0; i < count; ++i)
        SaveSetting(kApplication, Keys::Favoris, QString::number(i), folders[i]);
    // Then the keys past them, and only then.
    for (const auto &pair : all) {
        bool number = false;
        const int k = pair.first.toInt(&number);
        if (!(number && k >= 0 && k < count && pair.first == QString::number(k)))
            DeleteSetting(kApplication, Keys::Favoris, pair.first);
    }
}
