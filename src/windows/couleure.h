#pragma once

#include <QColor>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>

// A filled rectangle; a hidden one only holds its colour.
class Shape : public QWidget {
    Q_OBJECT
public:
    explicit Shape(QWidget *parent = nullptr);
    QColor FillColor() const { return m_fill; }
    void setFillColor(const QColor &color);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_fill = Qt::white;
};

// The colour chooser. The caller prepares it (previews, caption), shows it
// modal and reads its result from Shape1 or Label5 once it is hidden. The
// caption says the mode: one ending in "te" colours the sample text,
// anything else the preview square. Kept loaded between uses, so the
// sliders keep their positions.
class Couleure : public QDialog {
    Q_OBJECT
public:
    explicit Couleure(QWidget *parent = nullptr);

    QLabel *Label1, *Label2, *Label3, *Label4;
    QScrollBar *VScroll1, *VScroll2, *VScroll3; // red, green, blue
    QPushButton *Command1, *Command2;           // "-", "+"
    QTimer *Timer1, *Timer2;                    // repeat "-" and "+" while held
    QGroupBox *Couleur;
    Shape *Shape1;  // preview; the result of a background or flash choice
    QLabel *Label5; // sample text; its colour is the result of a text choice
    Shape *Shape2;  // background colour at opening, for a cancel
    Shape *Shape3;  // text colour at opening, for a cancel

    QColor Label5Color() const;
    void setLabel5Color(const QColor &color);

    // Shows the window modal until it hides; true when the user confirmed.
    bool ShowModal();
    bool Confirmed() const { return m_confirmed; }

    void VScroll1_Change(); // the preview follows the sliders
    void Command1_Click();
    void Command2_Click();
    void Timer1_Timer();
    void Timer2_Timer();
    void Command1_MouseDown();
    void Command1_MouseUp();
    void Command2_MouseDown();
    void Command2_MouseUp();
    void Couleur_Click();
    void Label5_Click();
    void Form_QueryUnload(bool &Cancel);
    // The main window's unload: a hidden chooser goes; a shown one is
    // cancelled first.
    void Unload();

    // value + d, refused (the value stays) when outside the slider's range.
    static void StepValue(QScrollBar *bar, int d);

protected:
    void closeEvent(QCloseEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

public slots:
    void reject() override;

private:
    void step(int d);
    void stopRepeat();
    void confirm();
    bool m_confirmed = false;
    bool m_unloading = false;
    bool m_pressed = false;
};
