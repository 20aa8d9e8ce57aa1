// The favourite folders of the "Fa&voris" menu.
#include "player/form1.h"

#include "platform/filename.h"
#include "platform/settingsstore.h"
#include "storage/settingskeys.h"
#include "windows/favori.h"

#include <QCoreApplication>

#include <algorithm>

namespace {

constexpr int kMaxFavourites = 10;

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

QStringList Form1::StoredFavourites(QStringList *keys) {
    struct Entry {
        bool numeric;
        qint64 number;
        QString key, value;
    };
    QVector<Entry> entries;
    for (const auto &pair : GetAllSettings(kApp, Keys::Favoris)) {
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

void Form1::connectFavourites() {
    connect(Ajouter, &QAction::triggered, this, &Form1::Ajouter_Click);
    connect(Organiser, &QAction::triggered, this, &Form1::Organiser_Click);
}

void Form1::CreateFav() {
    for (int i = 1; i <= kMaxFavourites; ++i)
        Menu[i]->setVisible(false);
    const QStringList folders = StoredFavourites();
    for (int i = 0; i < folders.size() && i < kMaxFavourites; ++i) {
        QAction *slot = Menu[i + 1];
        // The caption shows the path; "&" would read as an access key.
        slot->setText(DisplayFileName(folders[i]).replace("&", "&&"));
        slot->setData(folders[i]);
        slot->setVisible(true);
    }
}

void Form1::Ajouter_Click() {
    Favori *organiser = App::favori;
    // While the organiser is open its list is what will be stored.
    const bool full =
        organiser ? organiser->List1->count() >= kMaxFavourites : Menu[kMaxFavourites]->isVisible();
    if (full) {
        Message("Pas plus de 10 favoris !");
        return;
    }
    const QString folder = Dir1->Path();
    if (folder.isEmpty())
        return;
    // The first key not in use: a section with a gap loses nothing.
    QStringList keys;
    StoredFavourites(&keys);
    for (int k = 0; k < kMaxFavourites; ++k) {
        const QString key = QString::number(k);
        if (!keys.contains(key)) {
            SaveSetting(kApp, Keys::Favoris, key, folder);
            break;
        }
    }
    if (organiser)
        organiser->AddFolder(folder);
    QCoreApplication::processEvents();
    CreateFav();
}

void Form1::Organiser_Click() {
    Favori::Open(this);
}
