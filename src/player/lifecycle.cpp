// Load and unload of the main window.
#include "player/form1.h"

#include "platform/settingsstore.h"
#include "windows/form3.h"

#include <QApplication>
#include <QCloseEvent>

namespace {

// A stored number: decimal text, optional minus sign, nothing else.
bool parseNumber(const QString &text, qint64 &out) {
    bool ok = false;
    out = text.toLongLong(&ok, 10);
    return ok && !text.isEmpty() && text == text.trimmed();
}

// Colours are stored red in the low byte, then green, then blue.
QColor colorOf(qint64 value) {
    const auto v = quint32(value);
    return QColor(int(v & 0xFF), int((v >> 8) & 0xFF), int((v >> 16) & 0xFF));
}

} // namespace

void Form1::Form_Load() {
    // 1, 2: bars and pictures.
    FlatBar1->RefreshBar();
    FlatBar6->RefreshBar();
    FlatBar9->RefreshBar();
    Image4->setPicture(Image6->Picture());
    Image3->setPicture(Image7->Picture());
    Image9->setPicture(Image1->Picture());

    // 3: mode. Only the exact stored forms count.
    const QString mode = GetSetting(kApp, "Session", "Mode");
    if (mode == "0")
        PlayMode = 0;
    else if (mode == "77")
        PlayMode = 77;
    else if (mode == "9")
        PlayMode = 9;
    else if (mode == "12")
        PlayMode = 12;
    else
        PlayMode = 7;
    ShowModeButton();

    // 4: nothing loaded.
    ActiveMovie1->setFileName("");

    // 5, 6: list colours; a value that is not a number is ignored.
    qint64 value = 0;
    const QString back = GetSetting(kApp, "Aspect", "Fond");
    if (!back.isEmpty() && parseNumber(back, value)) {
        Dir1->setColors(colorOf(value), {});
        Drive1->setColors(colorOf(value), {});
        File1->setColors(colorOf(value), {});
    }
    const QString text = GetSetting(kApp, "Aspect", "Texte");
    if (!text.isEmpty() && parseNumber(text, value)) {
        Dir1->setColors({}, colorOf(value));
        Drive1->setColors({}, colorOf(value));
        File1->setColors({}, colorOf(value));
    }

    // 7: last folder; one that no longer exists leaves the browser where it is.
    const QString path = GetSetting(kApp, "Session", "Path");
    if (!path.isEmpty() && Dir1->setPath(path))
        Drive1->setDrive(path);

    // 8: a folder without playable files greys the transport out.
    if (File1->ListCount() == 0)
        for (int i = 0; i <= 4; ++i)
            FlatBar1->DisableButton(i);

    // 9: options, as stored.
    if (GetSetting(kApp, "Options", "Répétition") == "Oui")
        Randloo->setChecked(true);
    if (GetSetting(kApp, "Temps", "Infos") == "Non")
        Durée->setChecked(false);
    if (GetSetting(kApp, "Options", "Fade") == "Oui")
        Fade->setChecked(true);
    if (GetSetting(kApp, "Options", "Continue") == "Non")
        LectCont->setChecked(false);

    // 10: volume, while LastCaption is still empty (no volume message).
    const QString volume = GetSetting(kApp, "Session", "Volume");
    if (!volume.isEmpty() && parseNumber(volume, value) && value >= 0 && value <= 100)
        VScroll1->setValue(int(value));

    // 11, 12.
    LastCaption = "Tunabel - Arrêt";
    if (GetSetting(kApp, "Options", "Dessus") == "Oui")
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
        FlatBar1_Click(2);
    SaveSetting(kApp, "Session", "Path", Dir1->Path());
    if (PlayMode != 9)
        SaveSetting(kApp, "Session", "Mode", QString::number(PlayMode));
    SaveSetting(kApp, "Session", "Volume", QString::number(VScroll1->value()));
    if (App::form3) {
        App::form3->close();
        App::form3->deleteLater();
        App::form3 = nullptr;
    }
    Timer1->stop();
    Timer2->stop();
    Alarma->stop();
}

void Form1::closeEvent(QCloseEvent *event) {
    int cancel = 0;
    Form_Unload(cancel);
    event->accept();
}

void Form1::ReduceToTray() {
    setVisible(false);
}

void Form1::Réduire_Click() {
    ReduceToTray();
}

void Form1::Quit_Click() {
    close();
    QApplication::quit();
}
