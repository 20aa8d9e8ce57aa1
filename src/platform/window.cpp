#include "platform/window.h"

#include <QWidget>

void SetTopMost(QWidget *window, bool onTop) {
    if (!window)
        return;
    const bool had = window->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
    const bool wasActivating = !window->testAttribute(Qt::WA_ShowWithoutActivating);
    window->setAttribute(Qt::WA_ShowWithoutActivating, true);
    if (had != onTop)
        window->setWindowFlag(Qt::WindowStaysOnTopHint, onTop); // this hides the window
    window->show();
    window->raise();
    if (wasActivating)
        window->setAttribute(Qt::WA_ShowWithoutActivating, false);
}

bool IsTopMost(const QWidget *window) {
    return window && window->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
}
