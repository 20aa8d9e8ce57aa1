#include "windows/form2.h"

#include "player/form1.h"
#include "windows/couleure.h"

#include <QBitmap>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QScreen>

#include <chrono>

namespace {
QPushButton *smallButton(const QString &caption, const QString &tip, QWidget *parent, int x) {
    auto *b = new QPushButton(caption, parent);
    b->setToolTip(tip);
    b->setGeometry(x, 0, 22, 21); // 330 x 315 twips
    b->setFocusPolicy(Qt::NoFocus);
    b->hide();
    return b;
}

QCursor transparentCursor() {
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    return QCursor(pm, 15, 15);
}
} // namespace

Form2::Form2(QWidget *owner) : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint), m_owner(owner) {
    setObjectName("Form2");
    setWindowTitle("Stroboscope");
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(486, 167); // 7290 x 2505 twips
    if (QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    // Precise timers: the period is what the user sets, to the millisecond.
    Timer1 = new QTimer(this);
    Timer1->setTimerType(Qt::PreciseTimer);
    Timer1->setInterval(100);
    Timer2 = new QTimer(this);
    Timer2->setInterval(2000);
    Timer3 = new QTimer(this);
    Timer3->setTimerType(Qt::PreciseTimer);
    Timer3->setInterval(30);

    Command2 = smallButton("X", "Quitter", this, 0);
    Command1 = smallButton("T", "Change le mode", this, 22);
    Command3 = smallButton("C", "Change la couleur", this, 44);
    Command4 = smallButton("R", "Toute les couleurs", this, 66);
    HScroll1 = new QScrollBar(Qt::Horizontal, this);
    HScroll1->setGeometry(88, 0, 300, 21); // 4500 twips
    HScroll1->setRange(70, 500);
    HScroll1->setSingleStep(20);
    HScroll1->setPageStep(50);
    HScroll1->setValue(100);
    HScroll1->hide();
    Label1 = new QLabel("Eclat aléatoire", this);
    Label1->setGeometry(2, 23, 300, 18);
    Label1->setStyleSheet("color: white; background: transparent;");
    Label1->setAttribute(Qt::WA_NoMousePropagation);
    Label1->hide();
    TransparentCursor = transparentCursor();
    setCursor(TransparentCursor);

    connect(Timer1, &QTimer::timeout, this, &Form2::Timer1_Timer);
    connect(Timer2, &QTimer::timeout, this, &Form2::Timer2_Timer);
    connect(Timer3, &QTimer::timeout, this, &Form2::Timer3_Timer);
    connect(Command1, &QPushButton::clicked, this, &Form2::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form2::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &Form2::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &Form2::Command4_Click);
    connect(HScroll1, &QScrollBar::valueChanged, this, &Form2::HScroll1_Change);
    Rnd = [this] { return std::uniform_real_distribution<double>(0.0, 1.0)(m_random); };
}

Form2::~Form2() {
    if (App::form2 == this)
        App::form2 = nullptr;
}

void Form2::Form_Load() {
    m_random.seed(unsigned(std::chrono::steady_clock::now().time_since_epoch().count()));
    FlashColor = Qt::white;
    Timer1->start();
    Timer2->start();
}

void Form2::setBackColor(const QColor &color) {
    if (color == m_back)
        return;
    m_back = color;
    update();
}

void Form2::paintEvent(QPaintEvent *) {
    QPainter(this).fillRect(rect(), m_back);
}

void Form2::Timer1_Timer() {
    if (AllColors) {
        const int r = int(Rnd() * 255);
        const int g = int(Rnd() * 255);
        const int b = int(Rnd() * 255);
        setBackColor(QColor(r, g, b));
    } else {
        setBackColor(FlashColor);
    }
    Timer3->start();
}

void Form2::Timer3_Timer() {
    setBackColor(Qt::black);
    Timer3->stop();
}

void Form2::Timer2_Timer() {
    Timer1->setInterval(int(Rnd() * 300 + 100));
}

void Form2::HScroll1_Change() {
    HScroll1_Scroll();
}

void Form2::HScroll1_Scroll() {
    Timer1->setInterval(HScroll1->value());
    Label1->setText("Eclat à " + QString::number(HScroll1->value()) + " ms");
    Command1->setText("?");
    Timer2->stop();
}

void Form2::Command1_Click() {
    if (Timer2->isActive()) {
        Timer2->stop();
        HScroll1_Scroll();
        Command1->setText("?");
    } else {
        Command1->setText("T");
        Timer2->start();
        Label1->setText("Eclat aléatoire");
    }
}

void Form2::Command2_Click() {
    Unload();
}

void Form2::Command3_Click() {
    if (!App::couleure)
        App::couleure = new Couleure(m_owner);
    QPointer<Couleure> chooser = App::couleure;
    QPointer<Form2> self = this; // the program may close while the chooser is open
    chooser->Label5->hide();
    chooser->setWindowTitle("Choisissez la couleur de l'éclat");
    const bool confirmed = chooser->ShowModal();
    // A cancelled choice changes nothing: neither the colour nor the mode.
    if (!self || !chooser || !confirmed)
        return;
    AllColors = false;
    FlashColor = chooser->Shape1->FillColor();
}

void Form2::Command4_Click() {
    AllColors = true;
}

void Form2::Form_Click() {
    const bool show = Command2->isHidden();
    if (show)
        setCursor(Qt::ArrowCursor);
    else
        setCursor(TransparentCursor);
    for (QWidget *w :
         std::initializer_list<QWidget *>{Command1, Command2, Command3, Command4, HScroll1, Label1})
        w->setVisible(show);
}

void Form2::mousePressEvent(QMouseEvent *event) {
    m_pressed = event->button() == Qt::LeftButton;
}

void Form2::mouseReleaseEvent(QMouseEvent *event) {
    if (m_pressed && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        Form_Click();
    m_pressed = false;
}

void Form2::Unload() {
    Timer1->stop();
    Timer2->stop();
    Timer3->stop();
    if (App::form2 == this)
        App::form2 = nullptr;
    hide();
    deleteLater();
}

void Form2::closeEvent(QCloseEvent *event) {
    // Closed by the window manager: unloaded like "X".
    event->accept();
    Unload();
}
