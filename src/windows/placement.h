#pragma once

class QWidget;

// The secondary windows take the top-most place while active, and give it
// back to the main window when they go, if the main window keeps on top.
void AuxWindowActivated(QWidget *window, QWidget *mainWindow, bool mainOnTop);
void AuxWindowGone(QWidget *mainWindow, bool mainOnTop);
