#include "platform/desktop/tray.h"

#include <QSystemTrayIcon>
#include <QWidget>

#include <map>

namespace {
std::map<std::pair<QWidget *, int>, QSystemTrayIcon *> &icons() {
    static std::map<std::pair<QWidget *, int>, QSystemTrayIcon *> all;
    return all;
}

std::function<bool()> &availability() {
    static std::function<bool()> available;
    return available;
}
} // namespace

bool TrayAvailable() {
    const auto &available = availability();
    return available ? available() : QSystemTrayIcon::isSystemTrayAvailable();
}

void SetTrayAvailability(std::function<bool()> available) {
    availability() = std::move(available);
}

void NotifyIconData::setTip(const QString &text) {
    szTip = text + QChar(0);
}

QString NotifyIconData::tipText() const {
    QString t = szTip;
    const qsizetype nul = t.indexOf(QChar(0));
    if (nul >= 0)
        t.truncate(nul);
    return t.left(63);
}

TrayEvents *TrayEvents::instance() {
    static TrayEvents *events = new TrayEvents;
    return events;
}

QSystemTrayIcon *TrayEvents::iconOf(QWidget *window, int id) {
    auto it = icons().find({window, id});
    return it == icons().end() ? nullptr : it->second;
}

bool Shell_NotifyIcon(int operation, const NotifyIconData &data) {
    const auto key = std::make_pair(data.hWnd, data.uID);
    auto it = icons().find(key);
    switch (operation) {
    case NIM_ADD: {
        if (it != icons().end() || !data.hWnd)
            return false;
        auto *icon = new QSystemTrayIcon(data.hIcon, data.hWnd);
        icon->setToolTip(data.tipText());
        QWidget *window = data.hWnd;
        QObject::connect(icon, &QSystemTrayIcon::activated, icon,
                         [window](QSystemTrayIcon::ActivationReason r) {
                             if (r == QSystemTrayIcon::Trigger)
                                 emit TrayEvents::instance()->mouseMessage(window, WM_LBUTTONDOWN);
                             else if (r == QSystemTrayIcon::Context)
                                 emit TrayEvents::instance()->mouseMessage(window, WM_RBUTTONDOWN);
                         });
        QObject::connect(data.hWnd, &QObject::destroyed, icon, [key] { icons().erase(key); });
        icons()[key] = icon;
        if (TrayAvailable())
            icon->show();
        return true;
    }
    case NIM_MODIFY:
        if (it == icons().end())
            return false;
        if (data.uFlags & 2)
            it->second->setIcon(data.hIcon);
        if (data.uFlags & 4)
            it->second->setToolTip(data.tipText());
        return true;
    case NIM_DELETE:
        if (it == icons().end())
            return false;
        it->second->hide();
        it->second->deleteLater();
        icons().erase(it);
        return true;
    default:
        return false;
    }
}
