#include "windows/form4.h"

#include "player/form1.h"
#include "windows/placement.h"

#include <QCloseEvent>

#include <cmath>

Form4::Form4(Form1 *owner)
    : QWidget(owner, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                         Qt::MSWindowsFixedSizeDialogHint),
      m_owner(owner) {
    setObjectName("Form4");
    setWindowTitle("100 %");
    setFixedSize(154, 47); // 2310 x 705 twips
    HScroll1 = new QScrollBar(Qt::Horizontal, this);
    HScroll1->setGeometry(0, 0, 154, 18);
    HScroll1->setRange(10, 220);
    HScroll1->setSingleStep(5);
    HScroll1->setPageStep(70);
    HScroll1->setValue(100);
    FlatBar1 = new FlatBar(this);
    FlatBar1->setWithText(true);
    FlatBar1->setDesign({{"Rétablit la vitesse normale", -1, "Rétablir la vitesse d'origine", false, 0}});
    FlatBar1->setGeometry(0, 20, 154, 26);
    m_rateTimer = new QTimer(this);
    m_rateTimer->setSingleShot(true);
    connect(m_rateTimer, &QTimer::timeout, this, &Form4::applyRate);
    connect(HScroll1, &QScrollBar::valueChanged, this, &Form4::HScroll1_Change);
    connect(HScroll1, &QScrollBar::sliderReleased, this, [this] {
        m_rateTimer->stop();
        applyRate();
    });
    connect(FlatBar1, &FlatBar::Click, this, &Form4::FlatBar1_Click);
}

Form4::~Form4() {
    if (App::form4 == this)
        App::form4 = nullptr;
}

void Form4::Form_Load() {
    FlatBar1->RefreshBar();
    // Wide enough for the button's caption in the desktop's font.
    const int width = std::max(154, FlatBar1->sizeHint().width() + 4);
    setFixedSize(width, 47);
    HScroll1->resize(width, HScroll1->height());
    FlatBar1->resize(width, FlatBar1->height());
    // A rate the slider cannot show (never set by the program) is brought
    // into its range.
    const double rate = m_owner->ActiveMovie1->Rate();
    const double percent = std::isfinite(rate) ? std::nearbyint(rate * 100) : 100;
    const int v = int(std::clamp(percent, double(HScroll1->minimum()), double(HScroll1->maximum())));
    HScroll1->setValue(v);
    // At an unchanged value no change handler ran; a rate the slider could
    // not show still has to become the one shown.
    applyRate();
}

void Form4::HScroll1_Scroll() {
    HScroll1_Change();
}

void Form4::HScroll1_Change() {
    setWindowTitle(QString::number(HScroll1->value()) + " %");
    if (!HScroll1->isSliderDown()) {
        m_rateTimer->stop();
        applyRate();
    } else if (!m_rateTimer->isActive()) {
        m_rateTimer->start(kDragRatePeriodMs);
    }
}

void Form4::applyRate() {
    const double rate = HScroll1->value() / 100.0;
    // The same rate again would still seek, heard as a gap.
    if (rate != m_owner->ActiveMovie1->Rate())
        m_owner->ActiveMovie1->setRate(rate);
}

void Form4::FlatBar1_Click(int) {
    HScroll1->setValue(100);
}

void Form4::Form_Activate() {
    AuxWindowActivated(this, m_owner, m_owner->OnTop->isChecked());
}

void Form4::Form_QueryUnload(int &Cancel) {
    (void)Cancel;
    // A main window that is closing takes nothing back.
    if (!m_owner->isUnloaded())
        AuxWindowGone(m_owner, m_owner->OnTop->isChecked());
}

void Form4::Unload() {
    if (m_unloading)
        return;
    m_unloading = true;
    int cancel = 0;
    Form_QueryUnload(cancel);
    if (m_rateTimer->isActive()) {
        m_rateTimer->stop();
        applyRate();
    }
    if (App::form4 == this)
        App::form4 = nullptr;
    hide();
    deleteLater();
}

void Form4::closeEvent(QCloseEvent *event) {
    event->accept();
    Unload();
}

bool Form4::event(QEvent *event) {
    if (event->type() == QEvent::WindowActivate)
        Form_Activate();
    return QWidget::event(event);
}
