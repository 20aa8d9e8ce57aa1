#include "windows/secondary.h"

#include <QListWidget>
#include <QWidget>

QString ListText(const QListWidget *list, int index) {
    if (!list || index < 0 || index >= list->count())
        return QString();
    const QListWidgetItem *item = list->item(index);
    return item ? item->text() : QString();
}

int ListIndex(const QListWidget *list) {
    return list ? list->currentRow() : -1;
}

void RemoveListItem(QListWidget *list, int index) {
    if (!list || index < 0 || index >= list->count())
        return;
    delete list->takeItem(index);
    ClearListIndex(list);
}

void ClearListIndex(QListWidget *list) {
    if (!list)
        return;
    list->setCurrentRow(-1, QItemSelectionModel::Clear);
    list->clearSelection();
}

void ShowForward(QWidget *window) {
    if (!window)
        return;
    if (window->isMinimized())
        window->showNormal();
    window->show();
    window->raise();
    window->activateWindow();
}
