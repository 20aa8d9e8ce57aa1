// Fades, the media notifications and the display line, against the fake
// media control.
#include "support/playerfixture.h"

#include <QTimer>

// Readable failures.
inline void PrintTo(const QString &s, std::ostream *os) {
    *os << '"' << s.toStdString() << '"';
}

namespace {

class PlaybackTest : public PlayerTest {
protected:
    // A window playing the first of `files`, opened with `length` seconds.
    Form1 *playing(const QStringList &files, double length, int mode = 0) {
        folder = makeFolder("music", files);
        load();
        enter(folder);
        form->PlayMode = mode;
        pick(0);
        media->completeOpen(length);
        return form.get();
    }
    static QVector<int> ramp(int from, int to, int step) {
        QVector<int> out;
        for (int v = from; step > 0 ? v <= to : v >= to; v += step)
            out << v;
        return out;
    }
    QString folder;
};

} // namespace

TEST_F(PlaybackTest, FadesWriteTheirRamps) {
    playing({"a.mp3", "b.mp3"}, 180);
    media->volumeWrites.clear();
    form->FadeIn();
    EXPECT_EQ(media->volumeWrites, ramp(-4000, 0, 5));
    media->volumeWrites.clear();
    form->FadeOut();
    EXPECT_EQ(media->volumeWrites, ramp(0, -4000, -20));

    // Quieter than the end of the fades: nothing to write.
    form->VScroll1->setValue(90);
    media->volumeWrites.clear();
    form->FadeIn();
    form->FadeOut();
    EXPECT_TRUE(media->volumeWrites.isEmpty());
    EXPECT_EQ(form->VolumeLevel, -4500);

    // "Stop avec fade-out": a slow fade, then a user stop.
    form->VScroll1->setValue(0);
    media->volumeWrites.clear();
    form->Play_Click(3);
    EXPECT_EQ(media->volumeWrites, ramp(0, -4000, -1));
    EXPECT_TRUE(media->FileName().isEmpty());
    EXPECT_EQ(media->opened.size(), 1); // a user stop, even in continuous mode
    EXPECT_EQ(form->Label2->text(), "Tunabel - Arrêt");

    // With "Fade" on, the Stop fades out once more from the slider's level.
    form->Fade->setChecked(true);
    pick(1);
    media->completeOpen(180);
    media->volumeWrites.clear();
    form->Play_Click(3);
    EXPECT_EQ(media->volumeWrites, ramp(0, -4000, -1) + ramp(0, -4000, -20));
    EXPECT_TRUE(media->FileName().isEmpty());
    EXPECT_EQ(media->opened.size(), 2);
}

TEST_F(PlaybackTest, OpenCompleteSetsTheEndAndTheTitle) {
    playing({"Chanson.mp3", "Danse <live>.mp3"}, 185.4);
    EXPECT_DOUBLE_EQ(media->SelectionEnd(), 185.4);
    EXPECT_EQ(media->CurrentState(), 2);
    EXPECT_TRUE(form->isEnabled());
    EXPECT_TRUE(media->isVisible());
    EXPECT_EQ(form->LastCaption, "Tunabel - Chanson 3'05\"");
    EXPECT_EQ(form->Label2->text(), form->LastCaption);
    EXPECT_EQ(form->TrayData.tipText(), form->LastCaption);

    pick(1);
    media->completeOpen(59.99);
    EXPECT_EQ(form->Label2->text(), "Tunabel - Danse <live> 0'59\"");

    form->Durée->setChecked(false);
    media->reachEnd(); // the next file of the folder
    media->completeOpen(185.4);
    EXPECT_EQ(form->Label2->text(), "Tunabel - Chanson");
    EXPECT_EQ(form->TrayData.tipText(), "Tunabel - Chanson");
    // A title that ends with ">" is not taken for the pause suffix.
    pick(1);
    media->completeOpen(60);
    form->FlatBar1_Click(1);
    form->FlatBar1_Click(1);
    EXPECT_EQ(form->Label2->text(), "Tunabel - Danse <live>");
}

TEST_F(PlaybackTest, IntroductionLengthLimitsTheEnd) {
    setting("Intro", "Durée", "10");
    playing({"a.mp3"}, 185.4, 12);
    EXPECT_DOUBLE_EQ(media->SelectionEnd(), 10);
    setting("Intro", "Durée", "300");
    pick(0);
    media->completeOpen(185.4);
    EXPECT_DOUBLE_EQ(media->SelectionEnd(), 185.4);
    EXPECT_TRUE(prompts.isEmpty());

    // Unset, or not a positive number: asked until a length is typed.
    for (const QString &value : {QString(), QString("abc"), QString("-5")}) {
        SCOPED_TRACE(value.toStdString());
        setting("Intro", "Durée", value);
        prompts.clear();
        inputAnswers = {"", "dix", "0", "-2", "12"};
        pick(0);
        media->completeOpen(185.4);
        EXPECT_EQ(prompts.size(), 5);
        EXPECT_EQ(prompts.value(0), "Entrez la durée de l'introduction en secondes");
        EXPECT_EQ(stored("Intro", "Durée"), "12");
        EXPECT_DOUBLE_EQ(media->SelectionEnd(), 12);
        EXPECT_EQ(media->CurrentState(), 2);
    }
}

TEST_F(PlaybackTest, LongTitleLosesThePrefixInTheLabelOnly) {
    const QString name38(38, 'n'), name40(40, 'x');
    playing({name38 + ".mp3", name40 + ".mp3"}, 185.4);
    // 54 characters exactly: kept whole.
    EXPECT_EQ(form->Label2->text(), "Tunabel - " + name38 + " 3'05\"");
    pick(1);
    media->completeOpen(185.4);
    const QString full = "Tunabel - " + name40 + " 3'05\"";
    EXPECT_EQ(form->Label2->text(), name40 + " 3'05\"");
    EXPECT_EQ(form->LastCaption, name40 + " 3'05\"");
    EXPECT_EQ(form->TrayData.tipText(), full);
}

TEST_F(PlaybackTest, PausedTimeDisplayBlinksAndFollowsSeeks) {
    playing({"a.mp3"}, 185);
    const QString title = form->LastCaption;
    // Like the real control, the paused report comes after Pause returns;
    // the test drives the blink itself.
    media->deferPause = true;
    form->Timer2->setInterval(24 * 3600 * 1000);
    media->setPosition(65);
    form->FlatBar1_Click(1);
    settle();
    EXPECT_EQ(media->CurrentState(), 1);
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
    EXPECT_EQ(form->Label2->text(), "Tunabel - Ecoulé 0'30 - Restant 2'35 - Total 3'05 < Pause >");

    form->FlatBar1_Click(1);
    EXPECT_EQ(media->CurrentState(), 2);
    EXPECT_FALSE(form->Timer2->isActive());
    form->ActiveMovie1_Timer();
    EXPECT_EQ(form->Label2->text(), title);
    // A seek while running leaves the display alone.
    media->setCurrentPosition(10);
    EXPECT_EQ(form->Label2->text(), title);
}

TEST_F(PlaybackTest, TooltipAndTitleWhilePlaying) {
    playing({"Morceau.mp3"}, 185);
    media->setPosition(65);
    form->Label2->setText("autre chose");
    form->ActiveMovie1_Timer();
    EXPECT_EQ(media->toolTip(), "Morceau - Ecoulé 1'05 - Restant 2'00 - Total 3'05");
    EXPECT_EQ(form->Label2->text(), "Tunabel - Morceau 3'05\"");
    // Near the end the remaining time never shows a negative value.
    media->setPosition(185.2);
    form->ActiveMovie1_Timer();
    EXPECT_EQ(media->toolTip(), "Morceau - Ecoulé 3'05 - Restant 0'00 - Total 3'05");
}

TEST_F(PlaybackTest, ErrorShowsOneMessageAndStartsNothing) {
    folder = makeFolder("music", {"a.mp3", "b.mp3"});
    load();
    enter(folder);
    form->PlayMode = 0;
    pick(0);
    ASSERT_FALSE(form->isEnabled());
    media->fail("Impossible de lire le fichier.");
    EXPECT_EQ(messages, QStringList({"Impossible de lire le fichier."}));
    EXPECT_TRUE(form->isEnabled());
    settle();
    EXPECT_EQ(media->opened.size(), 1);
    EXPECT_EQ(media->runs, 0);
    EXPECT_EQ(form->Label2->text(), "Tunabel - Arrêt");
    // The player is usable again: the next pick plays.
    pick(1);
    media->completeOpen(60);
    EXPECT_EQ(form->Label2->text(), "Tunabel - b 1'00\"");
    EXPECT_EQ(messages.size(), 1);
}

TEST_F(PlaybackTest, FileClosedWhileTheOpenCompletedOnlyReenables) {
    folder = makeFolder("music", {"a.mp3"});
    load();
    enter(folder);
    pick(0);
    ASSERT_FALSE(form->isEnabled());
    // The user's Stop is among the events that run before Run.
    QTimer::singleShot(0, form.get(), [this] { form->FlatBar1_Click(2); });
    media->completeOpen(60);
    EXPECT_TRUE(form->isEnabled());
    EXPECT_EQ(media->runs, 0);
    EXPECT_EQ(form->Label2->text(), "Tunabel - Arrêt");
    EXPECT_EQ(form->LastCaption, "Tunabel - Arrêt");
}

TEST_F(PlaybackTest, VolumeMessageAndItsExpiry) {
    playing({"a.mp3"}, 185);
    const QString title = form->LastCaption;
    form->VScroll1->setValue(20);
    EXPECT_EQ(form->Label2->text(), "Tunabel - Volume à 80%");
    EXPECT_EQ(media->Volume(), -1000);
    EXPECT_EQ(form->VolumeLevel, -1000);
    EXPECT_TRUE(form->Timer1->isActive());
    form->VScroll1->setValue(35);
    EXPECT_EQ(form->Label2->text(), "Tunabel - Volume à 65%");
    EXPECT_EQ(media->Volume(), -1750);
    form->Timer1_Timer();
    EXPECT_EQ(form->Label2->text(), title);
    EXPECT_EQ(form->LastCaption, title);
    EXPECT_TRUE(form->SavedCaption.isEmpty());
    EXPECT_FALSE(form->Timer1->isActive());
    // The next track starts at the new volume.
    media->reachEnd();
    media->completeOpen(185);
    EXPECT_EQ(media->Volume(), -1750);
}

TEST_F(PlaybackTest, PosWritesMinutesAndTwoDigitSeconds) {
    EXPECT_EQ(Form1::Pos(185.7), "3'05");
    EXPECT_EQ(Form1::Pos(59), "0'59");
    EXPECT_EQ(Form1::Pos(59.99), "0'59");
    EXPECT_EQ(Form1::Pos(60), "1'00");
    EXPECT_EQ(Form1::Pos(3600), "60'00");
    EXPECT_EQ(Form1::Pos(0), "0'00");
    EXPECT_EQ(Form1::Pos(-0.4), "0'00");
    EXPECT_EQ(Form1::Pos(-75), "0'00");
}
