// The alarm window.
#include "windows/form6.h"

#include "platform/clock.h"
#include "platform/desktop/launcher.h"
#include "platform/imagebox.h"
#include "platform/window.h"
#include "player/form1.h"
#include "storage/playlist.h"
#include "windows/form5.h"
#include "windows/placement.h"
#include "windows/secondary.h"

#include <QCloseEvent>
#include <QCursor>
#include <QMouseEvent>

// Marks a modal step of the window: a due alarm waits for its end rather
// than unload the window under it.
struct BusyStep {
    explicit BusyStep(Form6 *w) : window(w) { ++w->m_busy; }
    ~BusyStep() {
        if (window)
            --window->m_busy;
    }
    QPointer<Form6> window;
};

namespace {
QRect twips(int left, int top, int width, int height) {
    return QRect(left / kTwipsPerPixel, top / kTwipsPerPixel, width / kTwipsPerPixel,
                 height / kTwipsPerPixel);
}

QLabel *timeLabel(QWidget *parent, const QString &text, Qt::Alignment align) {
    auto *label = new QLabel(text, parent);
    QFont font = label->font();
    font.setBold(true);
    font.setPointSize(12);
    label->setFont(font);
    label->setAlignment(align | Qt::AlignVCenter);
    return label;
}

FlatBar *bar(QWidget *parent, const char *icon, const char *caption, const char *tooltip) {
    auto *b = new FlatBar(parent);
    b->setToolbarSize(32);
    b->setWithText(true);
    b->setImageStrip({LoadIcon(icon, 32)});
    b->setDesign({{QString::fromUtf8(tooltip), 0, QString::fromUtf8(caption), false, 0}});
    return b;
}

QString twoDigits(int value) {
    return value < 10 ? "0" + QString::number(value) : QString::number(value);
}
} // namespace

Form6::Form6(Form1 *owner)
    : QWidget(owner, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                         Qt::MSWindowsFixedSizeDialogHint),
      m_owner(owner) {
    setObjectName("Form6");
    setWindowTitle(kCaption);
    // Above the others from the start: changing the flags of a shown window
    // would hide it and show it again.
    setWindowFlag(Qt::WindowStaysOnTopHint, true);
    setFixedSize(4785 / kTwipsPerPixel, 3345 / kTwipsPerPixel);

    Frame1 = new QGroupBox("Heure de l'alarme", this);
    Frame1->setGeometry(twips(240, 120, 1575, 1455));
    Label1 = timeLabel(Frame1, "22", Qt::AlignRight);
    Label1->setGeometry(twips(360, 600, 375, 255));
    Label2 = timeLabel(Frame1, "H", Qt::AlignHCenter);
    Label2->setGeometry(twips(720, 600, 255, 255));
    Label3 = timeLabel(Frame1, "11", Qt::AlignLeft);
    Label3->setGeometry(twips(960, 600, 375, 255));

    Frame2 = new QGroupBox("Réglage de l'alarme", this);
    Frame2->setGeometry(twips(2040, 120, 2535, 1455));
    Label5 = new QLabel("Heures", Frame2);
    Label5->setGeometry(twips(240, 480, 735, 255));
    HScroll1 = new QScrollBar(Qt::Horizontal, Frame2);
    HScroll1->setGeometry(twips(1080, 360, 1335, 375));
    HScroll1->setRange(0, 23);
    HScroll1->setPageStep(7);
    Label4 = new QLabel("Minutes", Frame2);
    Label4->setGeometry(twips(240, 960, 855, 255));
    HScroll2 = new QScrollBar(Qt::Horizontal, Frame2);
    HScroll2->setGeometry(twips(1080, 840, 1335, 375));
    HScroll2->setRange(0, 59);
    HScroll2->setPageStep(20);

    Frame3 = new QGroupBox("Liste à lire (Pas de liste en cours)", this);
    Frame3->setGeometry(twips(240, 1800, 4335, 1335));
    FlatBar2 = bar(Frame3, "choose-list", "Choisir", "Choisir une liste");
    FlatBar2->setGeometry(600 / kTwipsPerPixel, 360 / kTwipsPerPixel, 110, 44);
    FlatBar3 = bar(Frame3, "alarm-off", "Désactiver", "Désactiver l'alarme");
    FlatBar1 = bar(Frame3, "alarm-on", "Activer", "Activer l'alarme");
    m_activerLeft = 2760 / kTwipsPerPixel;
    for (FlatBar *b : {FlatBar3, FlatBar1}) {
        // Opaque: "Activer" hides "Désactiver" under it.
        b->setAutoFillBackground(true);
        b->setGeometry(m_activerLeft, 360 / kTwipsPerPixel, Frame3->width() - m_activerLeft - 4, 44);
    }
    FlatBar1->raise();

    Timer1 = new QTimer(this);
    Timer1->setInterval(400);
    Heure = new QMenu("Heure", this);
    Regler = Heure->addAction("Régler Da&te/Heure");

    connect(FlatBar1, &FlatBar::Click, this, &Form6::FlatBar1_Click);
    connect(FlatBar2, &FlatBar::Click, this, &Form6::FlatBar2_Click);
    connect(FlatBar3, &FlatBar::Click, this, &Form6::FlatBar3_Click);
    connect(HScroll1, &QScrollBar::valueChanged, this, &Form6::HScroll1_Change);
    connect(HScroll2, &QScrollBar::valueChanged, this, &Form6::HScroll2_Change);
    connect(Timer1, &QTimer::timeout, this, &Form6::Timer1_Timer);
    connect(Regler, &QAction::triggered, this, &Form6::Regler_Click);
    for (QWidget *w : {static_cast<QWidget *>(Frame1), static_cast<QWidget *>(Label1),
                       static_cast<QWidget *>(Label2), static_cast<QWidget *>(Label3)})
        w->installEventFilter(this);
}

Form6::~Form6() {
    if (App::form6 == this)
        App::form6 = nullptr;
}

void Form6::Form_Load() {
    FlatBar1->RefreshBar();
    FlatBar2->RefreshBar();
    FlatBar3->RefreshBar();
    const QTime now = CurrentClock().Now().time();
    Label1->setText(QString::number(now.hour()));
    Label3->setText(twoDigits(now.minute()));
    HScroll1->setValue(AlarmHour());
    HScroll2->setValue(AlarmMinute());
    // An unchanged slider raises no change: the labels are written anyway.
    HScroll1_Change();
    HScroll2_Change();
    if (m_owner && m_owner->List3->count() > 0)
        Frame3->setTitle("Liste à lire (Liste actuelle)");
}

bool Form6::isActiverShown() const {
    return FlatBar1->x() == m_activerLeft;
}

void Form6::HScroll1_Change() {
    Label1->setText(QString::number(HScroll1->value()));
    if (m_owner && m_owner->isAlarmArmed())
        m_owner->AimAlarm();
}

void Form6::HScroll1_Scroll() {
    HScroll1_Change();
}

void Form6::HScroll2_Change() {
    Label3->setText(twoDigits(HScroll2->value()));
    if (m_owner && m_owner->isAlarmArmed())
        m_owner->AimAlarm();
}

void Form6::HScroll2_Scroll() {
    HScroll2_Change();
}

void Form6::FlatBar2_Click(int Id) {
    (void)Id;
    Form1 *main = m_owner;
    if (!main)
        return;
    BusyStep busy(this);
    const QPointer<Form6> self(this);
    Form5 *manager = Form5::Load(main);
    if (manager->isVisible()) { // already open for another caller
        ShowForward(manager);
        return;
    }
    QPalette p = manager->List1->palette();
    p.setColor(QPalette::Base, main->File1->BackColor());
    p.setColor(QPalette::Text, main->File1->ForeColor());
    manager->List1->setPalette(p);
    const QPointer<Form5> guard(manager);
    manager->exec();
    if (!self || !guard || !m_owner)
        return;
    const QString name = manager->Text();
    if (name.isEmpty())
        return;
    // Read first: a list that cannot be read leaves the programme, the
    // buttons and the caption as they were.
    if (!main->LoadProgramme(PlaylistPath(name)))
        return;
    FlatBar1->EnableButton(0);
    Frame3->setTitle("Liste à lire (Liste actuelle)");
    for (int i = kBarLecture; i <= kBarAvancer; ++i)
        main->FlatBar1->EnableButton(i);
}

void Form6::FlatBar1_Click(int Id) {
    (void)Id;
    BusyStep busy(this);
    const QPointer<Form6> self(this);
    // Retry starts again from the choice of a list.
    while (m_owner && m_owner->List3->count() == 0) {
        FlatBar2_Click(0);
        if (!self || !m_owner)
            return;
        if (m_owner->List3->count() > 0)
            break;
        const auto answer =
            m_owner->MsgBox("Vous devez d'abord sélectionner une liste !", QMessageBox::NoIcon, QString(),
                            QMessageBox::Retry | QMessageBox::Cancel);
        if (!self || !m_owner || answer != QMessageBox::Retry)
            return;
    }
    if (!m_owner)
        return;
    if (!m_owner->isAlarmArmed()) {
        Timer1->start();
        if (isActiverShown())
            FlatBar1->move(FlatBar1->x() + kMove, FlatBar1->y());
        m_owner->ArmAlarm();
    }
    hide();
}

void Form6::FlatBar3_Click(int Id) {
    (void)Id;
    Timer1->stop();
    if (m_owner)
        m_owner->DisarmAlarm();
    hide();
    if (!isActiverShown())
        FlatBar1->move(m_activerLeft, FlatBar1->y());
    m_armedCaption = false;
    setWindowTitle(kCaption);
}

void Form6::Timer1_Timer() {
    m_armedCaption = Caption().endsWith('e');
    // A hidden window's title is written when it shows: setting it costs
    // window-system calls at every blink.
    if (isVisible())
        setWindowTitle(Caption());
}

QString Form6::Caption() const {
    return m_armedCaption ? kArmedCaption : kCaption;
}

void Form6::showEvent(QShowEvent *event) {
    if (windowTitle() != Caption())
        setWindowTitle(Caption());
    QWidget::showEvent(event);
}

void Form6::Frame1_DblClick() {
    const QString error = StartSystemTool(SystemTool::DateTime);
    if (!error.isEmpty() && m_owner)
        m_owner->Message(error, QMessageBox::Information);
}

void Form6::Regler_Click() {
    Frame1_DblClick();
}

void Form6::Frame1_MouseDown(int Button, int Shift, float X, float Y) {
    (void)Shift;
    (void)X;
    (void)Y;
    if (Button == 2)
        Heure->popup(QCursor::pos());
}

void Form6::Form_Activate() {
    if (m_owner)
        AuxWindowActivated(this, m_owner, m_owner->OnTop->isChecked());
}

void Form6::Form_Unload(int &Cancel) {
    if (!m_owner)
        return;
    if (m_owner->OnTop->isChecked() && !m_owner->isUnloaded())
        AuxWindowGone(m_owner, true);
    if (!m_owner->isAlarmArmed())
        return;
    BusyStep busy(this);
    const QPointer<Form6> self(this);
    const auto answer = m_owner->MsgBox("Souhaitez-vous désactiver l'alarme ?", QMessageBox::Question,
                                        QString(), QMessageBox::Yes | QMessageBox::No);
    if (!self || !m_owner)
        return;
    if (answer == QMessageBox::Yes) {
        m_owner->DisarmAlarm();
        Timer1->stop();
    } else {
        // Anything but Yes keeps the alarm: the window only hides.
        Cancel = 1;
    }
}

bool Form6::Unload() {
    if (m_unloaded)
        return true;
    const QPointer<Form6> self(this);
    int cancel = 0;
    Form_Unload(cancel);
    if (!self)
        return true;
    if (cancel) {
        hide();
        return false;
    }
    m_unloaded = true;
    Timer1->stop();
    if (App::form6 == this)
        App::form6 = nullptr;
    hide();
    deleteLater();
    return true;
}

void Form6::closeEvent(QCloseEvent *event) {
    event->ignore();
    Unload();
}

bool Form6::event(QEvent *event) {
    if (event->type() == QEvent::WindowActivate && isVisible())
        Form_Activate();
    return QWidget::event(event);
}

bool Form6::eventFilter(QObject *watched, QEvent *event) {
    (void)watched;
    if (event->type() == QEvent::MouseButtonDblClick) {
        if (static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
            Frame1_DblClick();
            return true;
        }
    } else if (event->type() == QEvent::MouseButtonPress) {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        const int button = mouse->button() == Qt::LeftButton     ? 1
                           : mouse->button() == Qt::RightButton  ? 2
                           : mouse->button() == Qt::MiddleButton ? 4
                                                                 : 0;
        Frame1_MouseDown(button, 0, float(mouse->position().x() * kTwipsPerPixel),
                         float(mouse->position().y() * kTwipsPerPixel));
        return button == 2;
    }
    return QWidget::eventFilter(watched, event);
}
