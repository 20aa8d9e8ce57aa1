// The speed window over the fake control.
#include "support/playerfixture.h"

#include "platform/window.h"
#include "windows/form4.h"

#include <QElapsedTimer>
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

TEST_F(SpeedTest, ADragMovesTheCaptionEveryStepButTheRateAtMostEvery50ms) {
    load();
    form->Speed_Click();
    QScrollBar *bar = App::form4->HScroll1;
    QStringList captions;
    QObject::connect(App::form4, &QWidget::windowTitleChanged, [&](const QString &t) { captions << t; });
    // One step per move, a few ms apart, as a user's drag.
    QElapsedTimer t;
    t.start();
    bar->setSliderDown(true);
    for (int v = bar->value() + 1; v <= 220; ++v) {
        bar->setSliderPosition(v);
        QTest::qWait(8);
    }
    const qint64 ms = t.elapsed();
    bar->setSliderDown(false);
    EXPECT_EQ(captions.size(), 120);
    EXPECT_EQ(captions.last(), "220 %");
    EXPECT_LE(media->rateWrites.size(), ms / Form4::kDragRatePeriodMs + 2);
    ASSERT_FALSE(media->rateWrites.isEmpty());
    EXPECT_EQ(media->rateWrites.last(), 2.2); // the release applies the last value
    // A rate write follows the move that asked for it within the period.
    media->rateWrites.clear();
    bar->setSliderDown(true);
    bar->setSliderPosition(150);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !media->rateWrites.isEmpty(); }, 30000));
    EXPECT_EQ(media->rateWrites, QVector<double>{1.5});
    bar->setSliderDown(false);
    EXPECT_EQ(media->rateWrites.size(), 1);
}

} // namespace
