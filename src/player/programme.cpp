// The programme editor panel and the mute button beside it.
#include "player/form1.h"

#include "player/constants.h"

#include <QCoreApplication>

void Form1::EditProg_Click() {
    if (Height() == kEditorHeight) {
        setHeight(kPlainHeight);
        return;
    }
    FlatBar1->PressButton(10);
    if (!List2->currentItem() || List2->currentItem()->text().isEmpty())
        for (FlatBar *bar : {FlatBar2, FlatBar3, FlatBar4, FlatBar5, FlatBar7, FlatBar8})
            bar->RefreshBar();
    List2->clear();
    QStringList names;
    for (int i = 0; i < File1->ListCount(); ++i)
        names.append(File1->List(i));
    List2->addItems(names);
    for (QListWidget *list : {List2, List3}) {
        QPalette p = list->palette();
        p.setColor(QPalette::Base, File1->BackColor());
        p.setColor(QPalette::Text, File1->ForeColor());
        list->setPalette(p);
    }
    QCoreApplication::processEvents();
    setHeight(kEditorHeight);
}

void Form1::FlatBar6_Click(int Id) {
    (void)Id;
    if (Muted) {
        Muted = false;
        FlatBar6->ClearButtons();
        FlatBar6->AddButton(0, "Couper le son", 1, QString(), 1, false);
        if (Fade->isChecked())
            FadeIn();
        else
            ActiveMovie1->setVolume(SliderVolume(VScroll1->value()));
        VScroll1->setEnabled(true);
    } else {
        Muted = true;
        FlatBar6->ClearButtons();
        FlatBar6->AddButton(0, "Rétablir le son", 0, QString(), 1, false);
        if (Fade->isChecked())
            FadeOut();
        else
            ActiveMovie1->setVolume(-7000);
        VScroll1->setEnabled(false);
    }
}
