// The frameless window: its drag, the tray key, the tray icon's clicks and
// the end of the program.
#include "support/playerfixture.h"

#include "platform/desktop/tray.h"
#include "platform/window.h"

#include <QApplication>
#include <QMouseEvent>
#include <QTest>

namespace {
void mouse(QWidget *w, QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons held) {
    QMouseEvent e(type, QPointF(at), w->mapToGlobal(QPointF(at)), button, held, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

// Counts the times a window is hidden or gets a new native window.
struct Recreations : QObject {
    int count = 0;
    bool eventFilter(QObject *, QEvent *e) override {
        count += e->type() == QEvent::Hide || e->type() == QEvent::WinIdChange;
        return false;
    }
};

struct Secondary : QWidget {
    int unloads = 0;
    void closeEvent(QCloseEvent *) override { ++unloads; }
};
} // namespace

class ChromeTest : public PlayerTest {
protected:
    // Plays track00001 of a new folder.
    Form1 *playing() {
        start(makeNumberedFolder("m", 3));
        pick(1);
        media->completeOpen(60);
        return form.get();
    }
};

TEST_F(ChromeTest, TrayKeyHidesWithoutReachingTheFileList) {
    // With a tray the window hides; without one it would only minimise.
    const std::shared_ptr<void> restore(nullptr, [](void *) { SetTrayAvailability({}); });
    SetTrayAvailability([] { return true; });
    Form1 *f = playing();
    f->activateWindow();
    f->File1->setFocus();
    const QStringList before = media->log;
    QTest::keyClick(f->File1, Qt::Key_T);
    EXPECT_FALSE(f->isVisible());
    EXPECT_EQ(media->log, before); // neither stopped nor played again
    EXPECT_EQ(f->File1->ListIndex(), 1);
    // Other keys are the list's own; upper case also reduces.
    f->show();
    QTest::keyClick(f->File1, Qt::Key_T, Qt::ShiftModifier);
    EXPECT_FALSE(f->isVisible());
    f->show();
    int a = 'a';
    f->Form_KeyPress(a);
    EXPECT_TRUE(f->isVisible());
}

TEST_F(ChromeTest, TrayLeftClickShowsOnTopOnlyWithTheOptionAndRightClickPauses) {
    Form1 *f = playing();
    // A click on the icon of a shown window leaves it as it is.
    Recreations r;
    f->installEventFilter(&r);
    emit TrayEvents::instance()->mouseMessage(f, WM_LBUTTONDOWN);
    f->removeEventFilter(&r);
    EXPECT_EQ(r.count, 0);
    EXPECT_TRUE(f->isVisible());

    f->OnTop_Click();
    ASSERT_TRUE(f->OnTop->isChecked());
    f->ReduceToTray();
    emit TrayEvents::instance()->mouseMessage(f, WM_LBUTTONDOWN);
    EXPECT_TRUE(f->isVisible());
    EXPECT_TRUE(IsTopMost(f));

    // The right button pauses and resumes, with the tip saying so.
    const QString caption = f->Label2->text();
    emit TrayEvents::instance()->mouseMessage(f, WM_RBUTTONDOWN);
    EXPECT_EQ(media->CurrentState(), 1);
    EXPECT_EQ(f->TrayData.tipText(), caption + " - Pause");
    emit TrayEvents::instance()->mouseMessage(f, WM_RBUTTONDOWN);
    EXPECT_EQ(media->CurrentState(), 2);
    EXPECT_EQ(f->TrayData.tipText(), caption);

    // Stopped: nothing happens.
    f->FlatBar1_Click(2);
    const QStringList log = media->log;
    const QString tip = f->TrayData.tipText();
    emit TrayEvents::instance()->mouseMessage(f, WM_RBUTTONDOWN);
    EXPECT_EQ(media->log, log);
    EXPECT_EQ(f->TrayData.tipText(), tip);
}

TEST_F(ChromeTest, FramelessDragOnlyWhileAButtonIsHeldAndTheRightButtonsMenu) {
    Form1 *f = load();
    EXPECT_TRUE(f->windowFlags().testFlag(Qt::FramelessWindowHint));
    f->move(100, 100);
    const QPoint start = f->pos();
    mouse(f->Label2, QEvent::MouseButtonPress, {10, 10}, Qt::LeftButton, Qt::LeftButton);
    EXPECT_TRUE(f->DragOn);
    mouse(f->Label2, QEvent::MouseMove, {40, 25}, Qt::NoButton, Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitFor([&] { return f->pos() == start + QPoint(30, 15); }, 10000)); // 450, 225 twips
    mouse(f->Label2, QEvent::MouseButtonRelease, {10, 10}, Qt::LeftButton, Qt::NoButton);
    EXPECT_FALSE(f->DragOn);

    // The release went to a box: a move without a button ends the drag.
    const QPoint at = f->pos();
    mouse(f->Label2, QEvent::MouseButtonPress, {10, 10}, Qt::MiddleButton, Qt::MiddleButton);
    EXPECT_TRUE(f->DragOn);
    f->Label2_MouseMove(0, 0, 40 * 15, 40 * 15);
    EXPECT_FALSE(f->DragOn);
    f->Label2_MouseMove(1, 0, 80 * 15, 80 * 15);
    EXPECT_EQ(f->pos(), at);

    // The right button opens the menu, anywhere, and starts no drag.
    mouse(f->Label2, QEvent::MouseButtonPress, {10, 10}, Qt::RightButton, Qt::RightButton);
    EXPECT_FALSE(f->DragOn);
    EXPECT_TRUE(f->principal->isVisible());
    f->principal->hide();
    mouse(f, QEvent::MouseButtonPress, {270, 240}, Qt::RightButton, Qt::RightButton);
    EXPECT_TRUE(f->principal->isVisible());
    f->principal->hide();
    mouse(f, QEvent::MouseButtonPress, {270, 240}, Qt::LeftButton, Qt::LeftButton);
    EXPECT_FALSE(f->principal->isVisible());
}

TEST_F(ChromeTest, QuitUnloadsEveryWindowAndStopsPlayback) {
    Form1 *f = playing();
    Secondary shown, hidden;
    shown.show();
    f->Quit_Click();
    EXPECT_TRUE(f->isUnloaded());
    EXPECT_EQ(media->FileName(), "");
    EXPECT_EQ(media->log.last(), "close");
    EXPECT_EQ(shown.unloads, 1);
    EXPECT_EQ(hidden.unloads, 1); // kept loaded while hidden: unloaded as well
    EXPECT_EQ(TrayEvents::iconOf(f), nullptr);
}
