#pragma once

#include <QLabel>
#include <QPixmap>
#include <QWidget>

class Form1;
class QEventLoop;

// The start window, and later the About box (with its version line).
class Form3 : public QWidget {
    Q_OBJECT
public:
    explicit Form3(QWidget *parent = nullptr);
    ~Form3() override;

    QLabel *Label1;

    // Shows the picture, loads the main window, hides again.
    // makeMain builds the main window when none is loaded yet.
    void Form_Load();
    void Form_Click();

    static QString VersionLine(int major, int minor, int revision);

    // How the start window builds the main window; tests give their own.
    static inline Form1 *(*MakeMainWindow)() = nullptr;
    // How long the start waits for the start window's first paint.
    static inline int PaintWaitMs = 3000;

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;

private:
    // True once painted on screen, false when the wait ran out.
    bool waitForFirstPaint();

    QPixmap m_picture;
    bool m_painted = false;
    QEventLoop *m_paintWait = nullptr;
};
