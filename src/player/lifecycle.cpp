// Load and unload of the main window.
#include "player/form1.h"

#include "platform/settingsstore.h"
#include "player/constants.h"
#include "storage/playlist.h"
#include "storage/settingskeys.h"
#include "windows/couleure.h"
#include "windows/favori.h"
#include "windows/form2.h"
#include "windows/form3.h"
#include "windows/form4.h"
#include "windows/form5.h"
#include "windows/form6.h"

#include <QApplication>
#include <QCloseEvent>

void Form1::Form_Load() {
    // Settings that cannot be kept are said once, not lost without a word.
    SetSettingsFailureHandler([self = QPointer<Form1>(this)](const QString &why) {
        if (self)
            self->Message(why, QMessageBox::Warning);
    });
    // What saves killed half-way left behind.
    RemoveStaleSettingsSaves(kApp);
    RemoveStalePlaylistSaves();

    // 1, 2: bars and pictures.
    FlatBar1->RefreshBar();
    FlatBar6->RefreshBar();
    FlatBar9->RefreshBar();
    Image4->setPicture(Image6->Picture());
    Image3->setPicture(Image7->Picture());
    Image9->setPicture(Image1->Picture());

    // 3: mode. Only the exact stored forms count.
    const QString mode = Setting(Keys::Mode);
    if (mode == "0")
        PlayMode = kModeContinuous;
    else if (mode == "77")
        PlayMode = kModeRandomRepeat;
    else if (mode == "9")
        PlayMode = kModeProgramme;
    else if (mode == "12")
        PlayMode = kModeIntroductions;
    else
        PlayMode = kModeRandom;
    ShowModeButton();

    // 4: nothing loaded.
    ActiveMovie1->setFileName("");

    // 5, 6: list colours; a value that is not a colour number is ignored.
    QColor colour;
    if (StoredListColor(Setting(Keys::Fond), colour))
        ApplyListColors(colour, {});
    if (StoredListColor(Setting(Keys::Texte), colour))
        ApplyListColors({}, colour);
    qint64 value = 0;

    // 7: last folder; one that no longer exists leaves the browser where it is.
    const QString path = Setting(Keys::Path);
    if (!path.isEmpty() && Dir1->setPath(path))
        Drive1->setDrive(path);

    // 8: a folder without playable files greys the transport out.
    if (File1->ListCount() == 0)
        for (int i = kBarLecture; i <= kBarAvancer; ++i)
            FlatBar1->DisableButton(i);

    // 9: options, as stored.
    if (Setting(Keys::Repetition) == kOui)
        Randloo->setChecked(true);
    if (Setting(Keys::Infos) == kNon)
        Durée->setChecked(false);
    if (Setting(Keys::Fade) == kOui)
        Fade->setChecked(true);
    if (Setting(Keys::Continue) == kNon)
        LectCont->setChecked(false);

    // 10: volume, while LastCaption is still empty (no volume message).
    const QString volume = Setting(Keys::Volume);
    if (!volume.isEmpty() && ParseStoredNumber(volume, value) && value >= 0 && value <= 100)
        VScroll1->setValue(int(value));

    // 11, 12.
    LastCaption = kStopCaption;
    if (Setting(Keys::Dessus) == kOui)
        OnTop_Click();

    // 13: shown.
    show();

    // 14: tray icon.
    TrayData.hWnd = this;
    TrayData.uID = 1;
    TrayData.uFlags = 7;
    TrayData.cbSize = 88;
    TrayData.uCallbackMessage = 512;
    TrayData.hIcon = QIcon(Image1->Picture());
    TrayData.setTip(Label2->text());
    Shell_NotifyIcon(NIM_ADD, TrayData);

    // 15.
    CreateFav();
}

void Form1::Form_Unload(int &Cancel) {
    (void)Cancel;
    if (m_unloaded)
        return;
    m_unloaded = true;
    Shell_NotifyIcon(NIM_DELETE, TrayData);
    if (!ActiveMovie1->FileName().isEmpty())
        FlatBar1_Click(kBarStop);
    Save(Keys::Path, Dir1->Path());
    if (PlayMode != kModeProgramme)
        Save(Keys::Mode, QString::number(PlayMode));
    Save(Keys::Volume, QString::number(VScroll1->value()));
    if (App::form2)
        App::form2->Unload();
    if (App::form3) {
        App::form3->close();
        App::form3->deleteLater();
        App::form3 = nullptr;
    }
    if (App::form5)
        App::form5->Unload();
    if (App::form4)
        App::form4->Unload();
    if (App::couleure)
        App::couleure->Unload();
    Timer1->stop();
    Timer2->stop();
    // Disarmed first, the alarm window goes without asking; the organiser
    // writes its list back.
    DisarmAlarm();
    if (App::form6)
        App::form6->Unload();
    if (App::favori)
        App::favori->Unload();
}

void Form1::closeEvent(QCloseEvent *event) {
    int cancel = 0;
    Form_Unload(cancel);
    event->accept();
}

void Form1::ReduceToTray() {
    // Hidden, the window comes back only through its tray icon: without a
    // tray it would be lost, so it goes to the task bar instead.
    if (TrayAvailable())
        setVisible(false);
    else
        showMinimized();
}

void Form1::Réduire_Click() {
    ReduceToTray();
}

void Form1::Quit_Click() {
    close();
    // The other windows go through their own unload before the end.
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w != this && (w->windowType() == Qt::Window || w->windowType() == Qt::Dialog))
            w->close();
    QApplication::quit();
}
