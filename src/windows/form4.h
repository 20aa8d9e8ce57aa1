#pragma once

#include "platform/flatbar.h"

#include <QScrollBar>
#include <QTimer>
#include <QWidget>

class Form1;

// The playback speed: 10 % to 220 % of normal, the pitch kept by the
// media control. The caption shows the percentage.
class Form4 : public QWidget {
    Q_OBJECT
public:
    explicit Form4(Form1 *owner);
    ~Form4() override;

    QScrollBar *HScroll1;
    FlatBar *FlatBar1;

    void Form_Load();
    void Form_Activate();
    void Form_QueryUnload(int &Cancel);
    void HScroll1_Change();
    void HScroll1_Scroll();
    void FlatBar1_Click(int Id);
    // Closes the window for good (the main window's unload).
    void Unload();

    // While the thumb is dragged the rate follows at most this often (each
    // change is a seek, heard as a short gap), and once more on release.
    static constexpr int kDragRatePeriodMs = 50;

protected:
    void closeEvent(QCloseEvent *event) override;
    bool event(QEvent *event) override;

private:
    void applyRate();
    Form1 *m_owner;
    QTimer *m_rateTimer;
    bool m_unloading = false;
};
