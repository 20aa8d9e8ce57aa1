// The favourite folders of the "Fa&voris" menu.
#include "player/form1.h"

#include "platform/filename.h"
#include "platform/settingsstore.h"
#include "storage/settingskeys.h"

void Form1::CreateFav() {
    for (int i = 1; i <= 10; ++i)
        Menu[i]->setVisible(false);
    if (GetSetting(kApp, Keys::Favoris, "0").isEmpty())
        return;
    const auto pairs = GetAllSettings(kApp, Keys::Favoris);
    for (int i = 0; i < pairs.size() && i + 1 <= 10; ++i) {
        QAction *slot = Menu[i + 1];
        // The caption shows the path; "&" would read as an access key.
        slot->setText(DisplayFileName(pairs[i].second).replace("&", "&&"));
        slot->setData(pairs[i].second);
        slot->setVisible(true);
    }
}
