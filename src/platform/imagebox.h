#pragma once

#include <QLabel>

// A picture or a text that reports the mouse like the window's own
// controls: buttons 1 left, 2 right, 4 middle; positions in twips.
class ImageBox : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;
    // The handle of the picture, for the tray record and the picture swaps.
    QPixmap Picture() const { return pixmap(); }
    void setPicture(const QPixmap &p) { setPixmap(p); }

signals:
    void MouseDown(int Button, int Shift, float X, float Y);
    void MouseMove(int Button, int Shift, float X, float Y);
    void MouseUp(int Button, int Shift, float X, float Y);
    void Click();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
};

// Our own pictures, drawn from the resources at the size asked.
QPixmap LoadPicture(const QString &name, int size = 16);
QIcon LoadIcon(const QString &name, int size = 16);
