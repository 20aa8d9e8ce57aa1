#pragma once

#include <QColor>
#include <QCursor>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <random>

// The flash window: a borderless black window where a 30 ms flash comes
// back at a fixed period (the slider) or at a period drawn every two
// seconds, in one colour or a random one each time. A click on the
// background shows or hides the controls and the pointer.
class Form2 : public QWidget {
    Q_OBJECT
public:
    // A window of its own, never the main window's child, so it stays up
    // while the main window is in the tray. owner parents the chooser.
    explicit Form2(QWidget *owner = nullptr);
    ~Form2() override;

    QColor FlashColor = Qt::white;
    bool AllColors = false;

    QTimer *Timer1; // flash period: each tick starts a flash
    QTimer *Timer2; // random period mode: each tick draws a new period
    QTimer *Timer3; // ends a flash
    QPushButton *Command2, *Command1, *Command3, *Command4; // "X", "T", "C", "R"
    QScrollBar *HScroll1;
    QLabel *Label1;
    QCursor TransparentCursor;

    // Draws a value in [0, 1); tests put their own in place.
    std::function<double()> Rnd;

    void Form_Load();
    void Form_Click();
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void Command4_Click();
    void HScroll1_Change();
    void HScroll1_Scroll();
    void Timer1_Timer();
    void Timer2_Timer();
    void Timer3_Timer();
    // Closes the window for good (the main window's unload, and "X").
    void Unload();

    QColor BackColor() const { return m_back; }
    bool ControlsShown() const { return !Command2->isHidden(); }

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void setBackColor(const QColor &color);
    QColor m_back = Qt::black;
    std::mt19937 m_random;
    bool m_pressed = false;
    QPointer<QWidget> m_owner;
};
