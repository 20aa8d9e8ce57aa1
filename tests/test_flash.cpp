// The flash window: one instance, fixed and random pace, flash colours
// through the chooser, the hidden controls and pointer.
#include "support/playerfixture.h"

#include "windows/couleure.h"
#include "windows/form2.h"
#include "windows/form4.h"

#include <QApplication>
#include <QSignalSpy>
#include <QTest>

#include <cmath>

namespace {

class FlashTest : public PlayerTest {
protected:
    Form2 *open() {
        if (!form)
            load();
        form->Strobe_Click();
        return App::form2;
    }
    static void duringChooser(const std::function<void(Couleure *)> &inside) {
        duringModal([inside](QWidget *modal) {
            auto *c = qobject_cast<Couleure *>(modal);
            ASSERT_NE(c, nullptr);
            inside(c);
        });
    }
    static bool transparentPointer(const QWidget *w) {
        QImage clear(32, 32, QImage::Format_Alpha8);
        clear.fill(0);
        const QCursor c = w->cursor();
        return c.shape() == Qt::BitmapCursor && c.hotSpot() == QPoint(15, 15) &&
               c.pixmap().toImage().convertToFormat(QImage::Format_Alpha8) == clear;
    }
    static double justBelowOne() { return std::nextafter(1.0, 0.0); }
};

TEST_F(FlashTest, OneWindowItsHiddenControlsAndAFreshLoadAfterX) {
    Form2 *w = open();
    ASSERT_NE(w, nullptr);
    form->FlatBar1_Click(5);
    form->Strobe_Click();
    EXPECT_EQ(App::form2, w);
    int shown = 0;
    for (QWidget *t : QApplication::topLevelWidgets())
        shown += qobject_cast<Form2 *>(t) && t->isVisible();
    EXPECT_EQ(shown, 1);

    // At load: random pace, controls and pointer hidden.
    EXPECT_TRUE(w->Timer1->isActive() && w->Timer2->isActive());
    EXPECT_EQ(w->Timer1->interval(), 100);
    EXPECT_FALSE(w->AllColors || w->ControlsShown());
    EXPECT_TRUE(transparentPointer(w));

    // A background click shows the controls and the pointer; clicks on the
    // controls are theirs; another background click hides them again.
    w->HScroll1->setValue(70);
    const QPoint background(300, 120);
    QTest::mouseClick(w, Qt::LeftButton, {}, background);
    EXPECT_TRUE(w->ControlsShown());
    for (QWidget *c :
         std::initializer_list<QWidget *>{w->Command1, w->Command3, w->Command4, w->HScroll1, w->Label1})
        EXPECT_TRUE(c->isVisible());
    EXPECT_EQ(w->cursor().shape(), Qt::ArrowCursor);
    QTest::mouseClick(w->Command4, Qt::LeftButton);
    QTest::mouseClick(w->Label1, Qt::LeftButton);
    EXPECT_TRUE(w->ControlsShown());
    EXPECT_TRUE(w->AllColors);
    QTest::mouseClick(w, Qt::LeftButton, {}, background);
    EXPECT_FALSE(w->ControlsShown());
    EXPECT_FALSE(w->Label1->isVisible() || w->HScroll1->isVisible());
    EXPECT_TRUE(transparentPointer(w));

    // "X" unloads it: the next opening starts afresh.
    QPointer<Form2> gone = w;
    QTest::mouseClick(w, Qt::LeftButton, {}, background);
    QTest::mouseClick(w->Command2, Qt::LeftButton);
    EXPECT_EQ(App::form2, nullptr);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(gone.isNull());
    w = open();
    EXPECT_EQ(w->Timer1->interval(), 100);
    EXPECT_TRUE(w->Timer2->isActive());
    EXPECT_FALSE(w->AllColors || w->ControlsShown());
}

TEST_F(FlashTest, PaceColoursAndTheLengthOfAFlash) {
    Form2 *w = open();
    w->HScroll1->setValue(70);
    EXPECT_EQ(w->Timer1->interval(), 70);
    EXPECT_EQ(w->Label1->text(), "Eclat à 70 ms");
    EXPECT_EQ(w->Command1->text(), "?");
    EXPECT_FALSE(w->Timer2->isActive());

    w->Command1_Click(); // to random: the period stays until the next draw
    EXPECT_EQ(w->Command1->text(), "T");
    EXPECT_EQ(w->Label1->text(), "Eclat aléatoire");
    EXPECT_TRUE(w->Timer2->isActive());
    EXPECT_EQ(w->Timer1->interval(), 70);
    w->Rnd = justBelowOne;
    w->Timer2_Timer();
    EXPECT_EQ(w->Timer1->interval(), 399);
    w->Rnd = [] { return 0.0; };
    w->Timer2_Timer();
    EXPECT_EQ(w->Timer1->interval(), 100);

    w->HScroll1->setValue(90); // a move leaves random pace at once
    EXPECT_FALSE(w->Timer2->isActive());
    EXPECT_EQ(w->Timer1->interval(), 90);
    w->Command1_Click();
    w->Timer2_Timer();
    w->Command1_Click(); // back to fixed: the slider's period again
    EXPECT_EQ(w->Timer1->interval(), 90);
    EXPECT_EQ(w->Label1->text(), "Eclat à 90 ms");
    EXPECT_EQ(w->Command1->text(), "?");
    // The slider never goes under 70: a flash always ends before the next.
    w->HScroll1->setValue(10);
    EXPECT_EQ(w->Timer1->interval(), 70);

    // A flash lasts until the end timer, in white at first.
    w->Timer1->stop();
    w->Timer2->stop();
    w->Timer1_Timer();
    EXPECT_EQ(w->BackColor(), QColor(Qt::white));
    EXPECT_TRUE(w->Timer3->isActive());
    w->Timer3_Timer();
    EXPECT_EQ(w->BackColor(), QColor(Qt::black));
    EXPECT_FALSE(w->Timer3->isActive());

    // Random colours stay under 255.
    w->Command4_Click();
    w->Rnd = justBelowOne;
    w->Timer1_Timer();
    EXPECT_EQ(w->BackColor(), QColor(254, 254, 254));
    int draw = 0;
    w->Rnd = [&draw] { return ++draw == 2 ? 0.5 : 0.0; }; // red, green, blue in this order
    w->Timer1_Timer();
    EXPECT_EQ(w->BackColor(), QColor(0, 127, 0));
}

TEST_F(FlashTest, TheChosenColourEndsRandomColoursAndACancelChangesNothing) {
    Form2 *w = open();
    w->Command4_Click(); // "R" then "C"
    QSignalSpy flashes(w->Timer3, &QTimer::timeout);
    duringChooser([&flashes](Couleure *c) {
        EXPECT_EQ(c->windowTitle(), "Choisissez la couleur de l'éclat");
        EXPECT_TRUE(c->Label5->isHidden());
        // Flashing goes on while the chooser is open.
        ASSERT_TRUE(QTest::qWaitFor([&] { return flashes.size() >= 2; }, 30000));
        c->VScroll1->setValue(0);
        c->VScroll2->setValue(255);
        c->VScroll3->setValue(0);
        c->Couleur_Click();
    });
    w->Command3_Click();
    EXPECT_FALSE(w->AllColors);
    EXPECT_EQ(w->FlashColor, QColor(Qt::green));

    w->Command4_Click(); // "C" then "R": random again, the colour kept for later
    EXPECT_TRUE(w->AllColors);
    EXPECT_EQ(w->FlashColor, QColor(Qt::green));

    // Cancelled, with random colours on and off: nothing changes. The
    // chooser's saved colour is the lists', never the flash's.
    for (bool all : {true, false}) {
        w->AllColors = all;
        duringChooser([](Couleure *c) {
            c->VScroll1->setValue(255);
            c->close();
        });
        w->Command3_Click();
        EXPECT_EQ(w->AllColors, all);
        EXPECT_EQ(w->FlashColor, QColor(Qt::green));
    }
    EXPECT_EQ(stored("Aspect", "Fond"), "");
}

TEST_F(FlashTest, TheMainWindowsUnloadClosesTheOptionWindows) {
    open();
    form->Speed_Click();
    duringChooser([](Couleure *c) { c->close(); });
    form->BakColor_Click();
    QPointer<Form2> flash = App::form2;
    QPointer<Form4> speed = App::form4;
    QPointer<Couleure> chooser = App::couleure;
    ASSERT_TRUE(flash && speed && chooser);
    int cancel = 0;
    form->Form_Unload(cancel);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(flash.isNull() && speed.isNull() && chooser.isNull());
}

} // namespace
