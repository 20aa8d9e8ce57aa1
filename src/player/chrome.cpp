// The frameless main window: its drag by the display line, the right click
// menu and the key that sends it to the tray.
#include "player/form1.h"

#include "platform/window.h"

#include <QApplication>
#include <QCursor>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWindow>

namespace {

// The tray key is taken before the focused control sees it: in the file
// list its release would stop the track and play the selection.
class TrayKey : public QObject {
public:
    explicit TrayKey(Form1 *form) : QObject(form), m_form(form) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        const QEvent::Type type = event->type();
        if ((type != QEvent::KeyPress && type != QEvent::KeyRelease) || !watched->isWidgetType())
            return false;
        auto *w = static_cast<QWidget *>(watched);
        if (w != m_form && !m_form->isAncestorOf(w))
            return false;
        auto *key = static_cast<QKeyEvent *>(event);
        if (type == QEvent::KeyRelease) {
            if (!m_eating || key->key() != Qt::Key_T)
                return false;
            if (!key->isAutoRepeat())
                m_eating = false;
            return true;
        }
        if (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
            return false;
        const QString text = key->text();
        if (text != "t" && text != "T")
            return false;
        m_eating = true;
        int ascii = text.at(0).unicode();
        m_form->Form_KeyPress(ascii);
        return true;
    }

private:
    Form1 *m_form;
    bool m_eating = false;
};

bool onWayland() {
    return QGuiApplication::platformName().startsWith("wayland");
}

} // namespace

void Form1::setupChrome() {
    setWindowFlag(Qt::FramelessWindowHint);
    connect(Label2, &ImageBox::MouseDown, this, &Form1::Label2_MouseDown);
    connect(Label2, &ImageBox::MouseMove, this, &Form1::Label2_MouseMove);
    connect(Label2, &ImageBox::MouseUp, this, &Form1::Label2_MouseUp);
    // Tray clicks have their own path; real mouse moves never reach them.
    connect(TrayEvents::instance(), &TrayEvents::mouseMessage, this, [this](QWidget *window, int message) {
        if (window == this)
            TrayIcon_MouseDown(message);
    });
    connect(Associate, &QAction::triggered, this, &Form1::Associate_Click);
    qApp->installEventFilter(new TrayKey(this));
}

void Form1::Label2_MouseDown(int Button, int Shift, float X, float Y) {
    (void)Shift;
    if (Button == 2) {
        DragOn = false;
        principal->popup(QCursor::pos());
        return;
    }
    // Wayland lets no window place itself: the compositor moves it.
    if (onWayland()) {
        DragOn = false;
        if (QWindow *w = windowHandle())
            w->startSystemMove();
        return;
    }
    DragOn = true;
    DragX = qRound(X);
    DragY = qRound(Y);
}

void Form1::Label2_MouseMove(int Button, int Shift, float X, float Y) {
    (void)Shift;
    if (!DragOn)
        return;
    // The release went elsewhere (a menu or a box took the mouse).
    if (!(Button & (1 | 4))) {
        DragOn = false;
        return;
    }
    const int dx = qRound((qRound(X) - DragX) / double(kTwipsPerPixel));
    const int dy = qRound((qRound(Y) - DragY) / double(kTwipsPerPixel));
    if (dx || dy)
        move(x() + dx, y() + dy);
}

void Form1::Label2_MouseUp(int Button, int Shift, float X, float Y) {
    (void)Button;
    (void)Shift;
    (void)X;
    (void)Y;
    DragOn = false;
}

void Form1::Form_MouseDown(int Button, int Shift, float X, float Y) {
    (void)Shift;
    (void)X;
    (void)Y;
    if (Button == 2)
        principal->popup(QCursor::pos());
}

void Form1::mousePressEvent(QMouseEvent *event) {
    Form_MouseDown(ButtonCode(event->button()), ShiftCode(event->modifiers()),
                   float(event->position().x() * 15), float(event->position().y() * 15));
}

void Form1::Form_KeyPress(int &KeyAscii) {
    if (KeyAscii == 84 || KeyAscii == 116)
        ReduceToTray();
}
