#pragma once

class QImage;
class QWidget;

// Twips, the unit of window positions and sizes: 15 to the pixel.
inline constexpr int kTwipsPerPixel = 15;

// Places a window above all others, or back among them, without
// activating it. A hidden window is shown.
void SetTopMost(QWidget *window, bool onTop);
bool IsTopMost(const QWidget *window);

// Under X11, makes `picture` the background of the window's native window, so
// that the display server shows it the moment it maps the window, before the
// program's first paint arrives. False where it cannot (no X11).
bool SetMappedBackground(QWidget *window, const QImage &picture);
