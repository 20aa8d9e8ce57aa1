// Fades, the media notifications and the display line.
#include "support/playerfixture.h"

#include <QTimer>

namespace {
class PlaybackTest : public PlayerTest {
protected:
    // Plays the first of `files`, opened with `length` seconds.
    void playing(const QStringList &files, double length) {
        start(makeFolder("music", files));
        pick(0);
        media->completeOpen(length);
        settle(); // the running report
    }
    static QVector<int> ramp(int from, int to, int step) {
        QVector<int> out;
        for (int v = from; step > 0 ? v <= to : v >= to; v += step)
            out << v;
        return out;
    }
};
} // namespace

TEST_F(PlaybackTest, FadesBelowTheirFloorWriteNothingAndStopWithFadeOutRamps) {
    playing({"a.mp3", "b.mp3"}, 180);
    // Quieter than the end of the fades: nothing to write.
    form->VScroll1->setValue(90);
    media->volumeWrites.clear();
    form->FadeIn();
    form->FadeOut();
    EXPECT_TRUE(media->volumeWrites.isEmpty());

    // "Stop avec fade-out": a slow fade, a user stop, and with "Fade" a second fade.
    form->VScroll1->setValue(0);
    for (bool fade : {false, true}) {
        SCOPED_TRACE(fade);
        form->Fade->setChecked(fade);
        media->volumeWrites.clear();
        form->Play_Click(3);
        EXPECT_EQ(media->volumeWrites, ramp(0, -4000, -1) + (fade ? ramp(0, -4000, -20) : QVector<int>()));
        EXPECT_TRUE(media->FileName().isEmpty());
        EXPECT_EQ(media->opened.size(), fade ? 2 : 1); // a user stop, even in continuous mode
        EXPECT_EQ(form->Label2->text(), "Tunabel - Arrêt");
        pick(1);
        media->completeOpen(180);
        settle();
    }
}

TEST_F(PlaybackTest, OpenCompleteRunsAndShowsTheTitleOrTheVolume) {
    const QString name38(38, 'n'), name40(40, 'x');
    playing({"Chanson.mp3", "Danse <live>.mp3", name38 + ".mp3", name40 + ".mp3"}, 185.4);
    EXPECT_DOUBLE_EQ(media->SelectionEnd(), 185.4);
    EXPECT_EQ(media->CurrentState(), 2);
    EXPECT_TRUE(media->isVisible());
    // Over 54 characters the label (not the tip) loses the prefix.
    struct Row {
        int file;
        double length;
        bool withLength;
        QString label, tip;
    };
    for (const Row &row : {Row{0, 185.4, true, "Tunabel - Chanson 3'05\"", ""},
                           Row{1, 59.99, true, "Tunabel - Danse <live> 0'59\"", ""},
                           Row{2, 185.4, true, "Tunabel - " + name38 + " 3'05\"", ""},
                           Row{3, 185.4, true, name40 + " 3'05\"", "Tunabel - " + name40 + " 3'05\""},
                           Row{0, 185.4, false, "Tunabel - Chanson", ""}}) {
        SCOPED_TRACE(row.label.toStdString());
        form->Durée->setChecked(row.withLength);
        pick(row.file);
        media->completeOpen(row.length);
        EXPECT_EQ(form->Label2->text(), row.label);
        EXPECT_EQ(form->TrayData.tipText(), row.tip.isEmpty() ? row.label : row.tip);
    }
    // The length menu item writes the seconds without padding.
    pick(0);
    media->completeOpen(61.4);
    ASSERT_FALSE(form->Durée->isChecked());
    form->Durée_Click();
    EXPECT_EQ(form->Label2->text(), "Tunabel - Chanson 1'1\"");
    EXPECT_EQ(form->LastCaption, form->Label2->text());
    form->Durée_Click();
    EXPECT_EQ(form->Label2->text(), "Tunabel - Chanson");
    // A title that ends with ">" is not taken for the pause suffix.
    pick(1);
    media->completeOpen(60);
    form->FlatBar1_Click(1);
    form->FlatBar1_Click(1);
    EXPECT_EQ(form->Label2->text(), "Tunabel - Danse <live>");

    // A volume message, its expiry, and the next track at the new volume.
    for (auto [slider, percent, volume] : {std::tuple{20, "80", -1000}, {35, "65", -1750}}) {
        form->VScroll1->setValue(slider);
        EXPECT_EQ(form->Label2->text(), QString("Tunabel - Volume à %1%").arg(percent));
        EXPECT_EQ(media->Volume(), volume);
        EXPECT_TRUE(form->Timer1->isActive());
    }
    form->Timer1_Timer();
    EXPECT_EQ(form->Label2->text(), "Tunabel - Danse <live>");
    EXPECT_FALSE(form->Timer1->isActive());
    media->reachEnd();
    media->completeOpen(185);
    EXPECT_EQ(media->Volume(), -1750);
}

TEST_F(PlaybackTest, IntroductionLengthLimitsTheEnd) {
    start(makeFolder("music", {"a.mp3"}), 12);
    // A decimal comma, as a French keyboard types it, is a number.
    for (auto [value, end] : {std::pair{"10", 10.0}, {"300", 185.4}, {" 7,5 ", 7.5}}) {
        setting("Intro", "Durée", value);
        pick(0);
        media->completeOpen(185.4);
        EXPECT_DOUBLE_EQ(media->SelectionEnd(), end) << value;
    }
    EXPECT_TRUE(prompts.isEmpty());

    // Unset, or not a positive number: asked until a length is typed.
    for (const QString &value :
         {QString(), QString("abc"), QString("-5"), QString("7,5,1"), QString("7,5.1")}) {
        SCOPED_TRACE(value.toStdString());
        setting("Intro", "Durée", value);
        prompts.clear();
        inputAnswers = {"", "dix", "0", "-2", "inf", "2,5"};
        pick(0);
        media->completeOpen(185.4);
        EXPECT_EQ(prompts.size(), 6);
        EXPECT_EQ(stored("Intro", "Durée"), "2,5");
        EXPECT_DOUBLE_EQ(media->SelectionEnd(), 2.5);
        EXPECT_EQ(media->CurrentState(), 2);
    }
}

TEST_F(PlaybackTest, PauseFadesOutBlinksFollowsSeeksAndResumes) {
    playing({"a.mp3"}, 185);
    const QString title = form->LastCaption;
    // The paused report comes after Pause returns; the test drives the blink.
    form->Timer2->setInterval(24 * 3600 * 1000);
    form->Fade->setChecked(true);
    media->setPosition(65);
    media->volumeWrites.clear();
    form->FlatBar1_Click(1);
    settle();
    EXPECT_EQ(media->CurrentState(), 1);
    EXPECT_EQ(media->volumeWrites, ramp(0, -4000, -20));
    EXPECT_EQ(form->Label2->text(), title + " < Pause >");
    EXPECT_TRUE(form->Timer2->isActive());
    EXPECT_EQ(form->Image9->Picture().cacheKey(), form->Image2->Picture().cacheKey());
    const QString times = "Tunabel - Ecoulé 1'05 - Restant 2'00 - Total 3'05";
    form->ActiveMovie1_Timer();
    EXPECT_EQ(form->Label2->text(), times + " < Pause >");
    form->Timer2_Timer();
    EXPECT_EQ(form->Image9->Picture().cacheKey(), form->Image1->Picture().cacheKey());
    form->ActiveMovie1_Timer();
    EXPECT_EQ(form->Label2->text(), times);
    form->Timer2_Timer();
    EXPECT_EQ(form->Label2->text(), times + " < Pause >");
    EXPECT_EQ(form->TrayData.tipText(), title); // not part of the blink
    media->setCurrentPosition(30);
    settle(); // the position report
    EXPECT_EQ(form->Label2->text(), "Tunabel - Ecoulé 0'30 - Restant 2'35 - Total 3'05 < Pause >");

    // Resume: a fade in, no blink, the times in the tooltip, the title back.
    media->volumeWrites.clear();
    form->FlatBar1_Click(1);
    EXPECT_EQ(media->CurrentState(), 2);
    EXPECT_FALSE(form->Timer2->isActive());
    EXPECT_EQ(media->volumeWrites.mid(media->volumeWrites.indexOf(-4000)), ramp(-4000, 0, 5));
    form->ActiveMovie1_Timer();
    EXPECT_EQ(form->Label2->text(), title);
    EXPECT_EQ(media->toolTip(), "a - Ecoulé 0'30 - Restant 2'35 - Total 3'05");
    // A seek while running leaves the display alone; the remaining time is never negative.
    media->setCurrentPosition(185.2);
    settle();
    EXPECT_EQ(form->Label2->text(), title);
    form->ActiveMovie1_Timer();
    EXPECT_EQ(media->toolTip(), "a - Ecoulé 3'05 - Restant 0'00 - Total 3'05");

    // Any state change ends the blink too.
    form->FlatBar1_Click(1);
    ASSERT_TRUE(form->Label2->text().endsWith(" < Pause >"));
    form->FlatBar1_Click(2);
    EXPECT_EQ(form->Label2->text(), "Tunabel - Arrêt");
    EXPECT_FALSE(form->Timer2->isActive());
}

TEST_F(PlaybackTest, ErrorOrStopDuringTheOpenStartsNothing) {
    start(makeFolder("music", {"a.mp3", "b.mp3"}));
    pick(0);
    ASSERT_FALSE(form->isWindowEnabled());
    media->fail("Impossible de lire le fichier.");
    EXPECT_EQ(messages, QStringList({"Impossible de lire le fichier."}));
    EXPECT_TRUE(form->isWindowEnabled());
    settle();
    EXPECT_EQ(media->opened.size(), 1);
    EXPECT_EQ(media->runs, 0);
    EXPECT_EQ(form->Label2->text(), "Tunabel - Arrêt");
    // A Stop among the events that run before Run only re-enables the window.
    pick(0);
    ASSERT_FALSE(form->isWindowEnabled());
    const int runs = media->runs;
    QTimer::singleShot(0, form.get(), [this] { form->FlatBar1_Click(2); });
    media->completeOpen(60);
    EXPECT_TRUE(form->isWindowEnabled());
    EXPECT_EQ(media->runs, runs);
    EXPECT_EQ(form->Label2->text(), "Tunabel - Arrêt");
    EXPECT_EQ(form->LastCaption, "Tunabel - Arrêt");
}

TEST(DisplayText, PosWritesMinutesAndTwoDigitSecondsAndNomTheBareName) {
    const std::pair<double, const char *> times[] = {{185.7, "3'05"}, {59.99, "0'59"}, {60, "1'00"},
                                                     {3600, "60'00"}, {-0.4, "0'00"},  {-75, "0'00"}};
    for (auto [seconds, text] : times)
        EXPECT_EQ(Form1::Pos(seconds), text) << seconds;
    const char *const names[][2] = {{"/a.b/c.d.mp3", "c.d"},    {"titre.mp3", "titre"},
                                    {"/a.b/titre", "titre"},    {"/x/.cache", ".cache"},
                                    {"/x/chanson.", "chanson"}, {"", ""}};
    for (auto [path, name] : names)
        EXPECT_EQ(Form1::Nom(path), name) << path;
}
