// The options of the menus and the volume slider.
#include "player/form1.h"

#include "platform/filename.h"
#include "platform/window.h"
#include "player/constants.h"
#include "storage/settingskeys.h"

#include <cmath>

namespace {
// The plain options: check and store "Oui", or uncheck and store "Non".
bool toggle(QAction *item, const SettingKey &key) {
    const bool on = !item->isChecked();
    item->setChecked(on);
    Save(key, on ? kOui : kNon);
    return on;
}
} // namespace

void Form1::Fade_Click() {
    toggle(Fade, Keys::Fade);
}

void Form1::LectCont_Click() {
    toggle(LectCont, Keys::Continue);
}

void Form1::OnTop_Click() {
    SetTopMost(this, toggle(OnTop, Keys::Dessus));
}

void Form1::Randloo_Click() {
    PlayMode = toggle(Randloo, Keys::Repetition) ? 77 : 7;
    FlatBar1->PressButton(8);
}

void Form1::Durée_Click() {
    const double d = std::round(ActiveMovie1->Duration());
    const bool on = !Durée->isChecked();
    Durée->setChecked(on);
    const QString file = ActiveMovie1->FileName();
    if (on) {
        if (!file.isEmpty())
            Label2->setText("Tunabel - " + DisplayFileName(Nom(file)) + " " + MinutesSeconds(d, false) +
                            "\"");
        Save(Keys::Infos, kOui);
    } else {
        if (!file.isEmpty())
            Label2->setText("Tunabel - " + DisplayFileName(Nom(file)));
        Save(Keys::Infos, kNon);
    }
    LastCaption = Label2->text();
}

bool Form1::IntroSeconds(const QString &text, double &seconds) {
    // A French keyboard types a decimal comma.
    QString t = text.trimmed();
    if (t.count(',') == 1 && !t.contains('.'))
        t.replace(',', '.');
    bool ok = false;
    const double value = t.toDouble(&ok);
    if (!ok || !(value > 0) || !std::isfinite(value))
        return false;
    seconds = value;
    return true;
}

void Form1::Introdu_Click() {
    // Asks until a positive number of seconds is typed.
    for (;;) {
        const QString current = Setting(Keys::IntroDuree);
        const QString answer =
            InputBox("Entrez la durée de l'introduction en secondes", kApp, current).trimmed();
        double seconds = 0;
        if (IntroSeconds(answer, seconds)) {
            Save(Keys::IntroDuree, answer);
            return;
        }
    }
}

void Form1::VScroll1_Scroll() {
    Timer1->stop();
    if (SavedCaption.isEmpty())
        SavedCaption = LastCaption;
    ActiveMovie1->setVolume(SliderVolume(VScroll1->value()));
    VolumeLevel = SliderVolume(VScroll1->value());
    Label2->setText("Tunabel - Volume à " + QString::number(100 - VScroll1->value()) + "%");
    LastCaption = Label2->text();
    Timer1->start();
}

void Form1::VScroll1_Change() {
    if (!LastCaption.isEmpty())
        VScroll1_Scroll();
}
