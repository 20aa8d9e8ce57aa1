#include "windows/placement.h"

#include "platform/window.h"

void AuxWindowActivated(QWidget *window, QWidget *mainWindow, bool mainOnTop) {
    if (mainOnTop)
        SetTopMost(mainWindow, false);
    SetTopMost(window, true);
}

void AuxWindowGone(QWidget *mainWindow, bool mainOnTop) {
    if (mainOnTop)
        SetTopMost(mainWindow, true);
}
