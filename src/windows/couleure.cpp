#include "windows/couleure.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMouseEvent>
#include <QPainter>

Shape::Shape(QWidget *parent) : QWidget(parent) {}

void Shape::setFillColor(const QColor &color) {
    m_fill = color;
    update();
}

void Shape::paintEvent(QPaintEvent *) {
    QPainter p(this);
    p.fillRect(rect(), m_fill);
    p.setPen(Qt::black);
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}

namespace {
QScrollBar *channel(QWidget *parent, int x) {
    auto *bar = new QScrollBar(Qt::Vertical, parent);
    bar->setGeometry(x, 24, 18, 126);
    bar->setRange(0, 255);
    bar->setSingleStep(5);
    bar->setPageStep(70);
    bar->setValue(0);
    return bar;
}

QLabel *title(const QString &text, QWidget *parent, int x, int width) {
    auto *label = new QLabel(text, parent);
    label->setGeometry(x, 4, width, 16);
    label->setAlignment(Qt::AlignCenter);
    return label;
}

QTimer *repeatTimer(QObject *parent) {
    auto *t = new QTimer(parent);
    t->setInterval(50);
    return t;
}
} // namespace

Couleure::Couleure(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint) {
    setObjectName("Couleure");
    setFixedSize(346, 158); // 5190 x 2370 twips
    Label1 = title("Rouge", this, 4, 40);
    Label2 = title("Vert", this, 48, 40);
    Label3 = title("Bleu", this, 92, 40);
    VScroll1 = channel(this, 15);
    VScroll2 = channel(this, 59);
    VScroll3 = channel(this, 103);
    Label4 = title("Luminosité", this, 136, 72);
    Command1 = new QPushButton("-", this);
    Command1->setGeometry(140, 26, 30, 26);
    Command2 = new QPushButton("+", this);
    Command2->setGeometry(174, 26, 30, 26);
    Timer1 = repeatTimer(this);
    Timer2 = repeatTimer(this);

    Couleur = new QGroupBox("Cliquez pour Valider", this);
    Couleur->setGeometry(212, 2, 130, 152);
    Shape1 = new Shape(Couleur);
    Shape1->setGeometry(12, 26, 105, 105); // 1575 twips
    // Clicks on the preview reach the frame, as they should.
    Shape1->setAttribute(Qt::WA_TransparentForMouseEvents);
    Label5 = new QLabel(QStringList(14, "Texte").join(' '), Couleur);
    Label5->setGeometry(Shape1->geometry());
    Label5->setWordWrap(true);
    Label5->setAlignment(Qt::AlignCenter);
    QFont bold = Label5->font();
    bold.setBold(true);
    Label5->setFont(bold);
    Shape2 = new Shape(this);
    Shape2->hide();
    Shape2->setFillColor(palette().color(QPalette::Window));
    Shape3 = new Shape(this);
    Shape3->hide();
    Shape3->setFillColor(palette().color(QPalette::WindowText));

    for (QScrollBar *bar : {VScroll1, VScroll2, VScroll3})
        connect(bar, &QScrollBar::valueChanged, this, &Couleure::VScroll1_Change);
    connect(Command1, &QPushButton::clicked, this, &Couleure::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Couleure::Command2_Click);
    connect(Timer1, &QTimer::timeout, this, &Couleure::Timer1_Timer);
    connect(Timer2, &QTimer::timeout, this, &Couleure::Timer2_Timer);
    for (QObject *o : std::initializer_list<QObject *>{Command1, Command2, Couleur, Label5})
        o->installEventFilter(this);
}

QColor Couleure::Label5Color() const {
    return Label5->palette().color(QPalette::WindowText);
}

void Couleure::setLabel5Color(const QColor &color) {
    QPalette p = Label5->palette();
    p.setColor(QPalette::WindowText, color);
    Label5->setPalette(p);
}

bool Couleure::ShowModal() {
    m_confirmed = false;
    stopRepeat();
    exec();
    stopRepeat();
    return m_confirmed;
}

void Couleure::VScroll1_Change() {
    const QColor c(VScroll1->value(), VScroll2->value(), VScroll3->value());
    if (windowTitle().right(2) == "te")
        setLabel5Color(c);
    else
        Shape1->setFillColor(c);
}

void Couleure::StepValue(QScrollBar *bar, int d) {
    // A value out of range is refused, not clamped: 252 + 5 stays 252.
    const int v = bar->value() + d;
    if (v >= bar->minimum() && v <= bar->maximum())
        bar->setValue(v);
}

void Couleure::step(int d) {
    StepValue(VScroll1, d);
    StepValue(VScroll2, d);
    StepValue(VScroll3, d);
}

void Couleure::Command1_Click() {
    step(-5);
}
void Couleure::Command2_Click() {
    step(5);
}
void Couleure::Timer1_Timer() {
    step(-5);
}
void Couleure::Timer2_Timer() {
    step(5);
}

// While a button is held, any release anywhere ends the repeat: the
// application's filter also sees releases that land on other windows.
void Couleure::Command1_MouseDown() {
    Timer1->start();
    qApp->installEventFilter(this);
}
void Couleure::Command1_MouseUp() {
    Timer1->stop();
    if (!Timer2->isActive())
        qApp->removeEventFilter(this);
}
void Couleure::Command2_MouseDown() {
    Timer2->start();
    qApp->installEventFilter(this);
}
void Couleure::Command2_MouseUp() {
    Timer2->stop();
    if (!Timer1->isActive())
        qApp->removeEventFilter(this);
}

void Couleure::stopRepeat() {
    Timer1->stop();
    Timer2->stop();
    qApp->removeEventFilter(this);
}

void Couleure::confirm() {
    m_confirmed = true;
    stopRepeat();
    done(QDialog::Accepted);
}

void Couleure::Couleur_Click() {
    confirm();
}
void Couleure::Label5_Click() {
    confirm();
}

void Couleure::Form_QueryUnload(bool &Cancel) {
    if (!isVisible() || m_unloading)
        return;
    Cancel = true;
    Shape1->setFillColor(Shape2->FillColor());
    setLabel5Color(Shape3->FillColor());
    m_confirmed = false;
    stopRepeat();
    done(QDialog::Rejected);
}

void Couleure::Unload() {
    bool cancel = false;
    Form_QueryUnload(cancel);
    m_unloading = true;
    stopRepeat();
    hide();
    deleteLater();
}

void Couleure::reject() {
    // Esc: like the close box.
    bool cancel = false;
    Form_QueryUnload(cancel);
}

void Couleure::closeEvent(QCloseEvent *event) {
    bool cancel = false;
    Form_QueryUnload(cancel);
    if (cancel)
        event->ignore();
    else
        event->accept();
}

void Couleure::hideEvent(QHideEvent *event) {
    stopRepeat();
    QDialog::hideEvent(event);
}

bool Couleure::event(QEvent *event) {
    if (event->type() == QEvent::WindowDeactivate)
        stopRepeat();
    return QDialog::event(event);
}

bool Couleure::eventFilter(QObject *watched, QEvent *event) {
    const auto type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseButtonRelease &&
        type != QEvent::MouseButtonDblClick)
        return false;
    const bool down = type != QEvent::MouseButtonRelease;
    if (watched == Command1 || watched == Command2) {
        if (down)
            watched == Command1 ? Command1_MouseDown() : Command2_MouseDown();
        else
            watched == Command1 ? Command1_MouseUp() : Command2_MouseUp();
        return false;
    }
    if (watched == Couleur || watched == Label5) {
        // A click: pressed and released over the preview. The sample text
        // passes its presses on to the frame, so both see the same press.
        auto *w = static_cast<QWidget *>(watched);
        if (down) {
            m_pressed = true;
        } else if (m_pressed && w->rect().contains(static_cast<QMouseEvent *>(event)->position().toPoint())) {
            m_pressed = false;
            watched == Label5 ? Label5_Click() : Couleur_Click();
            return true;
        } else {
            m_pressed = false;
        }
        return false;
    }
    // The application's filter, while a luminosity button is held.
    if (!down && (Timer1->isActive() || Timer2->isActive())) {
        Timer1->stop();
        Timer2->stop();
        qApp->removeEventFilter(this);
    }
    return false;
}
