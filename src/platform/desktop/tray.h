#pragma once

#include <QIcon>
#include <QObject>
#include <QString>

#include <functional>

class QSystemTrayIcon;
class QWidget;

// The record the window keeps for its notification-area icon.
struct NotifyIconData {
    int cbSize = 88;
    QWidget *hWnd = nullptr;
    int uID = 1;
    int uFlags = 7;
    int uCallbackMessage = 512;
    QIcon hIcon;
    QString szTip; // at most 63 characters are shown; a NUL ends the tip

    void setTip(const QString &text);
    // The tip as the icon shows it: up to the first NUL, 63 characters at most.
    QString tipText() const;
};

enum { NIM_ADD = 0, NIM_MODIFY = 1, NIM_DELETE = 2 };
// Mouse messages reported for the icon.
enum { WM_LBUTTONDOWN = 513, WM_RBUTTONDOWN = 516 };

// Whether the desktop shows notification-area icons. Tests set their own
// answer with SetTrayAvailability (an empty function restores the desktop's).
bool TrayAvailable();
void SetTrayAvailability(std::function<bool()> available);

// Adds, modifies or deletes the icon described by `data`. Works without a
// tray: the record is kept and nothing shows. Returns false on a bad request.
bool Shell_NotifyIcon(int operation, const NotifyIconData &data);

// Reports left and right clicks on the icons, as the mouse message numbers.
class TrayEvents : public QObject {
    Q_OBJECT
public:
    static TrayEvents *instance();
    // The icon of a window, null when it has none (for tests and the shell).
    static QSystemTrayIcon *iconOf(QWidget *window, int id = 1);

signals:
    void mouseMessage(QWidget *window, int message);
};
