// The colour chooser on its own: luminosity steps, confirm, cancel, and the
// repeat while a luminosity button is held.
#include "support/playerfixture.h"
#include "windows/couleure.h"

#include <QTest>

namespace {

const QString kFond = "Choisisez une couleur pour le fond";
const QString kTexte = "Choisisez une couleur pour le texte";

class ChooserTest : public ::testing::Test {
protected:
    // Prepares the chooser as the list colour commands do.
    void open(const QColor &back, const QColor &text, const QString &caption) {
        c.Shape1->setFillColor(back);
        c.Shape2->setFillColor(back);
        c.Shape3->setFillColor(text);
        c.setLabel5Color(text);
        c.Label5->show();
        c.setWindowTitle(caption);
    }
    // Runs `inside` while it is up and modal; what ShowModal returned.
    bool whileShown(const std::function<void()> &inside) {
        duringModal([this, inside](QWidget *) {
            EXPECT_TRUE(c.isVisible() && c.isModal());
            inside();
        });
        return c.ShowModal();
    }
    void set(int r, int g, int b) {
        c.VScroll1->setValue(r);
        c.VScroll2->setValue(g);
        c.VScroll3->setValue(b);
    }
    QColor values() const { return QColor(c.VScroll1->value(), c.VScroll2->value(), c.VScroll3->value()); }

    Couleure c;
    const QColor back{10, 20, 30}, text{200, 210, 220};
};

TEST_F(ChooserTest, LuminosityStepsAreRefusedOutOfRangeAndCancelKeepsTheSliders) {
    open(back, text, kFond);
    set(252, 3, 128);
    c.Command2_Click();
    EXPECT_EQ(values(), QColor(252, 8, 133)); // 257 refused: red stays
    EXPECT_EQ(c.Shape1->FillColor(), QColor(252, 8, 133));
    set(250, 3, 128);
    c.Command2_Click();
    EXPECT_EQ(values(), QColor(255, 8, 133));
    set(3, 255, 0);
    c.Command1_Click();
    EXPECT_EQ(values(), QColor(3, 250, 0)); // -2 refused: red and blue stay

    // The close box and Esc cancel to the opening colours and keep the sliders.
    EXPECT_FALSE(whileShown([this] {
        set(100, 110, 120);
        EXPECT_EQ(c.Shape1->FillColor(), QColor(100, 110, 120));
        c.close();
    }));
    EXPECT_EQ(c.Shape1->FillColor(), back);
    EXPECT_EQ(c.Label5Color(), text);
    EXPECT_EQ(values(), QColor(100, 110, 120)); // for the next use

    open(back, text, kTexte);
    EXPECT_FALSE(whileShown([this] {
        c.Command2_Click();
        EXPECT_EQ(c.Label5Color(), QColor(105, 115, 125));
        QTest::keyClick(&c, Qt::Key_Escape);
    }));
    EXPECT_EQ(c.Label5Color(), text);
    EXPECT_EQ(c.Shape1->FillColor(), back);
    EXPECT_EQ(values(), QColor(105, 115, 125));
}

TEST_F(ChooserTest, AClickOnThePreviewOrTheSampleTextConfirms) {
    open(back, text, kFond);
    EXPECT_TRUE(whileShown([this] {
        set(1, 2, 3);
        // Through the window, so the click lands wherever the window sends it.
        const QPoint centre = c.Shape1->mapTo(&c, c.Shape1->rect().center() + QPoint(0, 40));
        QTest::mouseClick(c.windowHandle(), Qt::LeftButton, {}, centre);
    }));
    EXPECT_EQ(c.Shape1->FillColor(), QColor(1, 2, 3));

    open(back, text, kTexte);
    EXPECT_TRUE(whileShown([this] {
        set(4, 5, 6);
        QTest::mouseClick(c.windowHandle(), Qt::LeftButton, {},
                          c.Label5->mapTo(&c, c.Label5->rect().center()));
    }));
    EXPECT_EQ(c.Label5Color(), QColor(4, 5, 6));

    // A press on the preview released outside it is no click.
    open(back, text, kFond);
    EXPECT_FALSE(whileShown([this] {
        const QPoint inside = c.Shape1->mapTo(&c, c.Shape1->rect().center());
        QTest::mousePress(c.windowHandle(), Qt::LeftButton, {}, inside);
        QTest::mouseRelease(c.windowHandle(), Qt::LeftButton, {}, QPoint(5, 150));
        EXPECT_TRUE(c.isVisible());
        c.close();
    }));
}

TEST_F(ChooserTest, HoldingALuminosityButtonRepeatsUntilAnyRelease) {
    open(back, text, kFond);
    c.show();
    set(250, 250, 250);
    // No repeat left running: the value holds for a while.
    const auto staysStill = [this] {
        const int v = c.VScroll1->value();
        QTest::qWait(200);
        EXPECT_EQ(c.VScroll1->value(), v);
        return v;
    };
    // Any button repeats; the release ends it, the left click adds one step.
    QTest::mousePress(c.Command1, Qt::RightButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return c.VScroll1->value() <= 230; }, 20000));
    QTest::mouseRelease(c.Command1, Qt::RightButton);
    int held = staysStill();

    QTest::mousePress(c.Command2, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return c.VScroll1->value() >= held + 10; }, 20000));
    const int beforeRelease = c.VScroll1->value();
    QTest::mouseRelease(c.Command2, Qt::LeftButton);
    const int afterRelease = staysStill();
    EXPECT_EQ(afterRelease, beforeRelease + 5);
    EXPECT_EQ(c.VScroll2->value(), afterRelease); // the three move together

    // A release the button never sees, elsewhere in the program.
    QTest::mousePress(c.Command2, Qt::MiddleButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return c.VScroll1->value() > afterRelease; }, 20000));
    QWidget elsewhere;
    QTest::mouseRelease(&elsewhere, Qt::MiddleButton);
    held = staysStill();

    // Hiding the window ends it too.
    QTest::mousePress(c.Command1, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return c.VScroll1->value() < held; }, 20000));
    c.hide();
    staysStill();
}

} // namespace
