#pragma once

#include "platform/flatbar.h"

#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QScrollBar>
#include <QTimer>
#include <QWidget>

class Form1;

// The alarm window: the time to ring, the list to play, arm and disarm.
// While the alarm is armed it stays loaded, hidden or shown; one window,
// brought forward when shown again.
class Form6 : public QWidget {
    Q_OBJECT
public:
    explicit Form6(Form1 *owner);
    ~Form6() override;

    QGroupBox *Frame1, *Frame2, *Frame3;
    QLabel *Label1, *Label2, *Label3; // hour, "H", minute: reads like 7H05
    QLabel *Label4, *Label5;          // "Minutes", "Heures"
    QScrollBar *HScroll1;             // hour, 0 to 23
    QScrollBar *HScroll2;             // minute, 0 to 59
    FlatBar *FlatBar1;                // "Activer": moved out of sight while armed
    FlatBar *FlatBar2;                // "Choisir"
    FlatBar *FlatBar3;                // "Désactiver", under FlatBar1
    QTimer *Timer1;                   // the caption's blink while armed
    QMenu *Heure;                     // pop-up over the time
    QAction *Regler;

    void Form_Load();
    void Form_Activate();
    void Form_Unload(int &Cancel);
    void FlatBar1_Click(int Id);
    void FlatBar2_Click(int Id);
    void FlatBar3_Click(int Id);
    void HScroll1_Change();
    void HScroll1_Scroll();
    void HScroll2_Change();
    void HScroll2_Scroll();
    void Frame1_DblClick();
    void Regler_Click();
    void Frame1_MouseDown(int Button, int Shift, float X, float Y);
    void Timer1_Timer();
    // The caption, blinking while armed (also while hidden).
    QString Caption() const;

    // The set time, read back from the labels.
    int AlarmHour() const { return Label1->text().toInt(); }
    int AlarmMinute() const { return Label3->text().toInt(); }
    // "Activer" is where it was designed, so it covers "Désactiver".
    bool isActiverShown() const;
    // A modal step of this window is running (the manager, a question).
    bool isBusy() const { return m_busy > 0; }
    // Unloads as the close box does (asking while armed); false when the
    // answer kept the window, hidden.
    bool Unload();

    static constexpr const char *kCaption = "Réglage de l'alarme";
    static constexpr const char *kArmedCaption = "Réglage de l'alarme (Alarme activée)";
    // How far arming moves "Activer", pixels (5000 twips).
    static constexpr int kMove = 5000 / 15;

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    friend struct BusyStep;
    QPointer<Form1> m_owner;
    int m_busy = 0;
    bool m_unloaded = false;
    int m_activerLeft = 0;
    bool m_armedCaption = false;
};

namespace App {
inline QPointer<Form6> form6;
} // namespace App
