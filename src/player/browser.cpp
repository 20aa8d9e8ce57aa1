// The folder browser: drives, folders, the file list and its picks.
#include "player/form1.h"

#include "player/constants.h"

#include <QCursor>

void Form1::Drive1_Change() {
    if (!Dir1->setPath(Drive1->Drive()))
        Drive1->setDrive(Dir1->Path());
}

void Form1::Dir1_Change() {
    const bool hadFiles = File1->ListCount() > 0;
    File1->setPath(Dir1->Path());
    if (File1->ListCount() > 0) {
        TrackIndex = -1;
        if (!hadFiles)
            for (int i = kBarLecture; i <= kBarAvancer; ++i)
                FlatBar1->EnableButton(i);
        const QString path = Dir1->Path();
        CurrentFolder = path == "/" ? QString() : path;
    } else if (hadFiles) {
        for (int i = kBarLecture; i <= kBarAvancer; ++i)
            FlatBar1->DisableButton(i);
    }
    if (Height() == kEditorHeight) {
        List2->clear();
        const int count = File1->ListCount();
        QStringList names;
        names.reserve(count);
        for (int i = 0; i < count; ++i)
            names.append(File1->List(i));
        List2->addItems(names);
    }
    OfferNextTrack();
}

void Form1::File1_KeyUp(int KeyCode, int Shift) {
    (void)KeyCode;
    (void)Shift;
    if (!isWindowEnabled())
        return;
    setWindowEnabled(false);
    const int saved = PlayMode;
    PlayMode = kModeStopping;
    FlatBar1_Click(kBarStop);
    if (!File1->FileName().isEmpty()) {
        if (Muted)
            FlatBar6_Click(1);
        TrackIndex = File1->ListIndex();
        FlatBar1_Click(kBarLecture);
    } else {
        setWindowEnabled(true);
    }
    PlayMode = saved;
}

void Form1::File1_MouseDown(int Button, int Shift, float X, float Y) {
    (void)Shift;
    (void)X;
    (void)Y;
    if (Button == 1 && !File1->FileName().isEmpty())
        File1_KeyUp(0, 0);
    else if (Button == 2)
        principal->popup(QCursor::pos());
}

void Form1::Dir1_MouseDown(int Button, int Shift, float X, float Y) {
    (void)Shift;
    (void)X;
    (void)Y;
    if (Button == 2)
        principal->popup(QCursor::pos());
}

void Form1::FlatBar9_Click(int Id) {
    (void)Id;
    const int i = File1->ListIndex();
    Dir1->Refresh();
    Dir1_Change(); // re-reads the folder into the file list
    if (i >= 0 && i < File1->ListCount())
        File1->setListIndex(i);
    TrackIndex = i;
    OfferNextTrack();
}

void Form1::Refresh_Click() {
    FlatBar9_Click(0);
}

void Form1::Menu_Click(int Index) {
    if (Index < 1 || Index >= Menu.size())
        return;
    QString folder = Menu[Index]->data().toString();
    if (folder.isEmpty())
        folder = Menu[Index]->text();
    if (!Dir1->setPath(folder))
        Message("Ce répertoire n'existe plus.", QMessageBox::Warning);
}
