#include "windows/form3.h"

#include "platform/imagebox.h"
#include "platform/window.h"
#include "player/form1.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QWindow>

Form3::Form3(QWidget *parent) : QWidget(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint) {
    setWindowTitle("Tunabel");
    m_picture = LoadPicture("splash.svg");
    setFixedSize(310, 199); // 4650 x 2985 twips
    Label1 = new QLabel("Version 2", this);
    Label1->setGeometry(241, 4, 76, 22);
    Label1->setAlignment(Qt::AlignRight | Qt::AlignTop);
    Label1->setStyleSheet("color: #E0E0E0; background: transparent;");
    QFont f("Times New Roman");
    f.setPointSizeF(9.75);
    Label1->setFont(f);
    Label1->hide();
    if (QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->geometry().center() - rect().center());
}

Form3::~Form3() {
    if (App::form3 == this)
        App::form3 = nullptr;
}

QString Form3::VersionLine(int major, int minor, int revision) {
    return "Version " + QString::number(major) + "." + QString::number(minor) + QString::number(revision);
}

void Form3::Form_Load() {
    Label1->setText(VersionLine(TUNABEL_VERSION_MAJOR, TUNABEL_VERSION_MINOR, TUNABEL_VERSION_PATCH));
    // Under X11 the display server paints the picture itself when it maps
    // the window: never an empty window before our first paint.
    SetMappedBackground(this, grab().toImage());
    show();
    // The main window's load keeps the thread busy, so the picture must be on
    // screen before it starts. Under X11 the window is exposed, then painted,
    // some time after show(). Without a paint in time, the load goes on
    // without the start window rather than leave an empty one on screen.
    if (waitForFirstPaint())
        QGuiApplication::sync(); // the display server has the picture
    else
        hide();
    if (!App::form1) {
        App::form1 = MakeMainWindow ? MakeMainWindow() : new Form1;
        App::form1->setAttribute(Qt::WA_DeleteOnClose);
        App::form1->Form_Load();
    }
    hide();
    // Loaded but unseen until the About box: its window and picture are
    // made again then, and meanwhile hold nothing (0.5 MB). Once the main
    // window is on screen, which this X traffic would delay.
    QTimer::singleShot(500, this, [this] {
        if (!isVisible()) {
            m_picture = QPixmap();
            destroy();
        }
    });
}

bool Form3::waitForFirstPaint() {
    if (m_painted)
        return true;
    QEventLoop loop;
    m_paintWait = &loop;
    QTimer::singleShot(PaintWaitMs, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    m_paintWait = nullptr;
    return m_painted;
}

void Form3::Form_Click() {
    close();
    if (App::form3 == this)
        App::form3 = nullptr;
    deleteLater();
}

void Form3::paintEvent(QPaintEvent *) {
    if (m_picture.isNull())
        m_picture = LoadPicture("splash.svg");
    QPainter p(this);
    p.drawPixmap(rect(), m_picture);
    // Painted for the screen, not grabbed: the wait ends once this is flushed.
    if (windowHandle() && windowHandle()->isExposed()) {
        m_painted = true;
        if (m_paintWait)
            m_paintWait->quit();
    }
}

void Form3::mousePressEvent(QMouseEvent *) {
    Form_Click();
}
