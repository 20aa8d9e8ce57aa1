#include "windows/form3.h"

#include "platform/imagebox.h"
#include "player/form1.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QWindow>

namespace {

// Quits a loop when the window it watches is exposed.
class ExposeWatcher : public QObject {
public:
    ExposeWatcher(QWindow *window, QEventLoop *loop) : m_window(window), m_loop(loop) {
        window->installEventFilter(this);
    }
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (watched == m_window && event->type() == QEvent::Expose && m_window->isExposed())
            m_loop->quit();
        return false;
    }

private:
    QWindow *m_window;
    QEventLoop *m_loop;
};

// A window just shown is not on screen until the display server has mapped
// it; what is painted before that is lost. Waits for it, a second at most.
void waitUntilExposed(QWidget *widget) {
    QWindow *window = widget->windowHandle();
    if (!window || window->isExposed())
        return;
    QEventLoop loop;
    ExposeWatcher watcher(window, &loop);
    QTimer::singleShot(1000, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

} // namespace

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
    show();
    // On screen before the main window's load keeps the thread busy: mapped,
    // painted, and the picture handed to the display server.
    waitUntilExposed(this);
    repaint();
    QGuiApplication::sync();
    if (!App::form1) {
        App::form1 = MakeMainWindow ? MakeMainWindow() : new Form1;
        App::form1->setAttribute(Qt::WA_DeleteOnClose);
        App::form1->Form_Load();
    }
    hide();
}

void Form3::Form_Click() {
    close();
    if (App::form3 == this)
        App::form3 = nullptr;
    deleteLater();
}

void Form3::paintEvent(QPaintEvent *) {
    QPainter p(this);
    p.drawPixmap(rect(), m_picture);
}

void Form3::mousePressEvent(QMouseEvent *) {
    Form_Click();
}
