// The speed window over the fake control.
#include "support/playerfixture.h"

#include "platform/window.h"
#include "windows/form4.h"

#include <QTest>

namespace {

using SpeedTest = PlayerTest;

TEST_F(SpeedTest, OpeningShowsTheRateInRangeAndTheSliderSetsIt) {
    start(makeFolder("m", {"a.mp3"}));
    // Rates the slider cannot show are brought into its range.
    for (auto [rate, shown] :
         {std::pair{1.125, 112}, {1.135, 114}, {3.0, 220}, {0.01, 10}, {std::nan(""), 100}}) {
        SCOPED_TRACE(rate);
        media->setRate(rate);
        form->Speed_Click();
        EXPECT_EQ(App::form4->HScroll1->value(), shown);
        EXPECT_EQ(App::form4->windowTitle(), QString::number(shown) + " %");
        EXPECT_EQ(media->Rate(), shown / 100.0);
        App::form4->close();
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    form->Speed_Click();
    Form4 *w = App::form4;
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(w->isVisible());
    form->Speed_Click();
    EXPECT_EQ(form->findChildren<Form4 *>(), QList<Form4 *>{w});

    // Nothing loaded: the rate waits for the next file.
    w->HScroll1->setValue(10);
    EXPECT_EQ(media->Rate(), 0.1);
    EXPECT_EQ(w->windowTitle(), "10 %");
    pick(0);
    media->completeOpen(60);
    EXPECT_EQ(media->Rate(), 0.1);

    // Closing keeps the speed; reopening shows it and sets nothing (read, not set).
    w->close();
    EXPECT_EQ(App::form4, nullptr);
    media->rateWrites.clear();
    form->Speed_Click();
    w = App::form4;
    EXPECT_EQ(w->HScroll1->value(), 10);
    EXPECT_EQ(w->windowTitle(), "10 %");
    EXPECT_TRUE(media->rateWrites.isEmpty());

    // "Rétablir": back to 100, and nothing at all when already there.
    QTest::mouseClick(w->FlatBar1->button(0), Qt::LeftButton);
    EXPECT_EQ(media->rateWrites, QVector<double>{1.0});
    EXPECT_EQ(w->windowTitle(), "100 %");
    w->FlatBar1_Click(0);
    EXPECT_EQ(media->rateWrites.size(), 1);

    // Keep-on-top goes to the speed window while it is active, and comes back.
    form->OnTop_Click();
    w->Form_Activate();
    EXPECT_FALSE(IsTopMost(form.get()));
    EXPECT_TRUE(IsTopMost(w));
    w->close();
    EXPECT_TRUE(IsTopMost(form.get()));
}

// How often a drag writes the rate is a figure of the bench (speed_drag_rate_changes).
TEST_F(SpeedTest, ADragMovesTheCaptionEveryStepAndTheRateOncePerPeriod) {
    load();
    form->Speed_Click();
    QScrollBar *bar = App::form4->HScroll1;
    QStringList captions;
    QObject::connect(App::form4, &QWidget::windowTitleChanged, [&](const QString &t) { captions << t; });
    bar->setSliderDown(true);
    for (int v = bar->value() + 1; v <= 220; ++v)
        bar->setSliderPosition(v);
    EXPECT_EQ(captions.size(), 120);
    EXPECT_EQ(captions.last(), "220 %");
    // The moves only started the period; its end writes the rate then shown.
    EXPECT_TRUE(media->rateWrites.isEmpty());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !media->rateWrites.isEmpty(); }, 30000));
    EXPECT_EQ(media->rateWrites, QVector<double>{2.2});
    // The release applies the last value at once.
    bar->setSliderPosition(150);
    bar->setSliderDown(false);
    EXPECT_EQ(media->rateWrites, QVector<double>({2.2, 1.5}));
}

} // namespace
