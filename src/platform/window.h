#pragma once

class QWidget;

// Twips, the unit of window positions and sizes: 15 to the pixel.
inline constexpr int kTwipsPerPixel = 15;

// Places a window above all others, or back among them, without
// activating it. A hidden window is shown.
void SetTopMost(QWidget *window, bool onTop);
bool IsTopMost(const QWidget *window);
