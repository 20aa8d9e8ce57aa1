// The favourite folders of the "Fa&voris" menu.
#include "player/form1.h"

#include "platform/filename.h"
#include "storage/favourites.h"
#include "windows/favori.h"

#include <QCoreApplication>

void Form1::connectFavourites() {
    connect(Ajouter, &QAction::triggered, this, &Form1::Ajouter_Click);
    connect(Organiser, &QAction::triggered, this, &Form1::Organiser_Click);
}

void Form1::CreateFav() {
    for (int i = 1; i <= kMaxFavourites; ++i)
        Menu[i]->setVisible(false);
    const QStringList folders = ReadFavourites();
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
    AddFavourite(folder);
    if (organiser)
        organiser->AddFolder(folder);
    QCoreApplication::processEvents();
    CreateFav();
}

void Form1::Organiser_Click() {
    Favori::Open(this);
}
