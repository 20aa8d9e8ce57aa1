// The notification-area icon of the main window.
#include "player/form1.h"

#include "platform/window.h"

void Form1::SetTrayTip(const QString &text) {
    TrayData.setTip(text);
    Shell_NotifyIcon(NIM_MODIFY, TrayData);
}

void Form1::SetTrayPicture(const QPixmap &picture) {
    TrayData.hIcon = QIcon(picture);
    Shell_NotifyIcon(NIM_MODIFY, TrayData);
}

// The icon's events written as a mouse move whose X is the message number
// in twips; only the two clicks count.
void Form1::Form_MouseMove(int Button, int Shift, float X, float Y) {
    if (Button + Shift + Y != 0)
        return;
    const int x = int(X);
    if (x == WM_LBUTTONDOWN * 15 || x == WM_RBUTTONDOWN * 15)
        TrayIcon_MouseDown(x / 15);
}

void Form1::TrayIcon_MouseDown(int Message) {
    if (Message == WM_LBUTTONDOWN) {
        BringBack();
    } else if (Message == WM_RBUTTONDOWN) {
        if (ActiveMovie1->CurrentState() == kMediaRunning) {
            TrayData.setTip(Label2->text() + " - Pause");
            FlatBar1_Click(kBarPause);
        } else if (ActiveMovie1->CurrentState() == kMediaPaused) {
            FlatBar1_Click(kBarLecture);
            SetTrayTip(Label2->text());
        }
    }
}
