// The alarm: its window, arming and disarming, and when it rings.
#include "platform/window.h"
#include "storage/playlist.h"
#include "support/fakeclock.h"
#include "support/fakelauncher.h"
#include "support/playerfixture.h"
#include "support/sinktap.h"
#include "windows/form5.h"
#include "windows/form6.h"

#include <QTest>
#include <QTimer>

#include <functional>
#include <map>

namespace {

class AlarmTest : public PlayerTest {
protected:
    void SetUp() override {
        PlayerTest::SetUp();
        SetPlaylistFolder(tmp.path() + "/lists");
        ASSERT_TRUE(MakePlaylistFolder(nullptr));
        clock.set(22, 10);
    }
    void TearDown() override {
        if (App::form6)
            delete App::form6.data();
        PlayerTest::TearDown();
        SetPlaylistFolder(QString());
    }
    void answerBoxes(const std::function<QMessageBox::StandardButton(const QString &)> &answer) {
        form->MsgBox = [this, answer](const QString &text, QMessageBox::Icon, const QString &,
                                      QMessageBox::StandardButtons) {
            messages << text;
            return answer(text);
        };
    }
    // Loads the window; boxes are answered from `answers` (Ok otherwise).
    void loadAnswering() {
        load();
        answerBoxes([this](const QString &text) {
            const auto it = answers.find(text);
            return it == answers.end() ? QMessageBox::Ok : it->second;
        });
    }
    // A saved list of `count` files of a new folder.
    void makeList(const QString &name, int count) {
        const QString dir = makeNumberedFolder("m-" + name, count);
        QStringList names;
        for (int i = 0; i < count; ++i)
            names << QString("track%1.mp3").arg(i, 5, 10, QChar('0'));
        ASSERT_TRUE(WritePlaylist(PlaylistPath(name), names, QStringList(count, dir + "/"), nullptr));
        firstFile = dir + "/track00000.mp3";
    }
    // The next opening of the manager picks `name` ("" closes it without a choice).
    void managerWillChoose(const QString &name) {
        QTimer::singleShot(0, [this, name] {
            ++managerShown;
            ASSERT_TRUE(App::form5 && App::form5->isVisible());
            if (name.isEmpty()) {
                App::form5->Unload();
                return;
            }
            const auto found = App::form5->List1->findItems(name, Qt::MatchExactly);
            ASSERT_EQ(found.size(), 1);
            App::form5->List1->setCurrentItem(found[0]);
            App::form5->List1_DblClick();
        });
    }
    // The window open, set to `hour`:`minute`, armed with the list "matin".
    Form6 *armed(int hour, int minute) {
        if (!form)
            loadAnswering();
        makeList("matin", 3);
        form->Alarme_Click();
        Form6 *w = App::form6;
        w->HScroll1->setValue(hour);
        w->HScroll2->setValue(minute);
        if (form->List3->count() == 0)
            managerWillChoose("matin");
        w->FlatBar1_Click(0);
        EXPECT_TRUE(form->isAlarmArmed());
        return w;
    }
    bool rung() const { return !media->opened.isEmpty() && media->opened.first() == firstFile; }
    // Checks every 10 s until `until`; the time of the check that rang, or an invalid time.
    QDateTime walk(const QDateTime &until) {
        while (clock.Now() <= until) {
            form->Alarma_Timer();
            if (rung())
                return clock.Now();
            clock.advance(10000);
        }
        return {};
    }
    QDateTime at(int day, int hour, int minute, int second = 0) const {
        return QDateTime(QDate(2026, 3, 10 + day), QTime(hour, minute, second));
    }

    FakeClock clock;
    std::map<QString, QMessageBox::StandardButton> answers;
    QString firstFile;
    int managerShown = 0;
};

TEST_F(AlarmTest, RingsWithinTenSecondsOfTheSetTimeAndGivesBackTheTopPlace) {
    clock.set(22, 10, 3);
    loadAnswering();
    media->setPlayCount(5);
    form->OnTop_Click();
    ASSERT_TRUE(IsTopMost(form.get()));
    Form6 *w = armed(22, 30);
    EXPECT_FALSE(w->isVisible());
    EXPECT_FALSE(w->isActiverShown());
    EXPECT_EQ(w->Frame3->title(), "Liste à lire (Liste actuelle)");
    // Aimed at the due time as well as checked every 10 s.
    EXPECT_NEAR(form->AlarmShot->remainingTime(), (20 * 60 - 3) * 1000, 2000);
    w->Timer1_Timer();
    EXPECT_EQ(w->Caption(), "Réglage de l'alarme (Alarme activée)");
    form->Alarme_Click();
    EXPECT_EQ(w->windowTitle(), "Réglage de l'alarme (Alarme activée)");
    w->Timer1_Timer();
    EXPECT_EQ(w->windowTitle(), "Réglage de l'alarme");
    // The alarm window takes the top place from a main window kept on top.
    w->Form_Activate();
    EXPECT_FALSE(IsTopMost(form.get()));
    EXPECT_TRUE(IsTopMost(w));
    w->hide();

    media->log.clear();
    const QDateTime when = walk(at(0, 22, 31));
    ASSERT_TRUE(when.isValid());
    EXPECT_GE(when, at(0, 22, 30));
    EXPECT_LE(when, at(0, 22, 30, 10));
    EXPECT_FALSE(form->isAlarmArmed());
    EXPECT_TRUE(IsTopMost(form.get()));
    EXPECT_EQ(form->PlayMode, 9);
    EXPECT_EQ(media->PlayCount(), 1);
    EXPECT_EQ(media->opened, QStringList{firstFile});
    QCoreApplication::processEvents();
    EXPECT_FALSE(App::form6) << "unloaded once rung";
    EXPECT_TRUE(messages.isEmpty()) << messages.join("|").toStdString();

    // Once only.
    clock.advance(60000);
    form->Alarma_Timer();
    EXPECT_EQ(media->opened.size(), 1);
}

TEST_F(AlarmTest, RingsAtTheNextOccurrenceOfItsTime) {
    struct Case {
        QDateTime armedAt;
        int hour, minute;
        QDateTime due;
    };
    const Case cases[] = {
        {at(0, 22, 10), 7, 30, at(1, 7, 30)},    // earlier than now: next morning, not 22:30
        {at(0, 23, 0), 0, 15, at(1, 0, 15)},     // past midnight
        {at(0, 8, 45, 40), 8, 45, at(0, 8, 45)}, // the minute it is armed counts
        {at(0, 8, 44, 59), 8, 45, at(0, 8, 45)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.armedAt.toString().toStdString());
        form.reset();
        media = nullptr;
        clock.set(c.armedAt);
        armed(c.hour, c.minute);
        const QDateTime when = walk(c.due.addSecs(60));
        ASSERT_TRUE(when.isValid());
        EXPECT_GE(when, c.due);
        EXPECT_LE(when, std::max(c.due, c.armedAt).addSecs(10));
    }
}

TEST_F(AlarmTest, SlidersMovedWhileArmedMoveTheDueTime) {
    Form6 *w = armed(22, 30);
    clock.set(22, 20);
    form->Alarme_Click();
    w->HScroll1->setValue(23);
    w->close(); // answered Ok: not Yes, so it stays armed
    EXPECT_TRUE(form->isAlarmArmed());
    EXPECT_FALSE(walk(at(0, 23, 29, 59)).isValid());
    // Moved back before the present: tomorrow.
    w->HScroll1->setValue(22);
    w->HScroll2->setValue(0);
    EXPECT_FALSE(walk(at(1, 21, 59, 59)).isValid());
    const QDateTime when = walk(at(1, 22, 1));
    ASSERT_TRUE(when.isValid());
    EXPECT_LE(when, at(1, 22, 0, 10));
}

// Due during a modal step or the question at closing: it rings right after.
// Closing answered Yes, or the main window's unload, disarms.
TEST_F(AlarmTest, ModalStepsDelayItAndClosingCanDisarmIt) {
    Form6 *w = armed(22, 30);
    form->Alarme_Click();
    bool rangInside = true;
    QTimer::singleShot(0, [&] {
        ASSERT_TRUE(App::form5 && App::form5->isVisible());
        clock.set(22, 30, 1);
        form->Alarma_Timer();
        rangInside = rung();
        App::form5->Unload();
    });
    w->FlatBar2_Click(0);
    EXPECT_FALSE(rangInside);
    EXPECT_TRUE(waitFor([&] { return rung(); }, 20000));

    form.reset();
    media = nullptr;
    w = armed(22, 30);
    // Answered No, it stays armed and hidden.
    bool rangDuringQuestion = true;
    answerBoxes([&](const QString &) {
        clock.set(22, 30, 2);
        form->Alarma_Timer();
        rangDuringQuestion = rung();
        return QMessageBox::No;
    });
    form->Alarme_Click();
    messages.clear();
    w->close();
    EXPECT_FALSE(rangDuringQuestion);
    EXPECT_EQ(messages, QStringList{"Souhaitez-vous désactiver l'alarme ?"});
    EXPECT_EQ(App::form6, w);
    EXPECT_FALSE(w->isVisible());
    EXPECT_TRUE(waitFor([&] { return rung(); }, 20000));

    form.reset();
    media = nullptr;
    clock.set(22, 10);
    answers["Souhaitez-vous désactiver l'alarme ?"] = QMessageBox::Yes;
    w = armed(22, 30);
    form->Alarme_Click();
    w->close();
    EXPECT_FALSE(form->isAlarmArmed());
    QCoreApplication::processEvents();
    EXPECT_FALSE(App::form6);
    EXPECT_FALSE(walk(at(0, 22, 31)).isValid());

    // The main window's unload does not ask.
    armed(22, 30);
    messages.clear();
    form->close();
    EXPECT_FALSE(form->isAlarmArmed());
    EXPECT_TRUE(messages.isEmpty());
    QCoreApplication::processEvents();
    EXPECT_FALSE(App::form6);
}

TEST_F(AlarmTest, DisarmingRestoresTheWindowAndRingingLeavesAFreshOne) {
    Form6 *w = armed(22, 30);
    form->Alarme_Click();
    w->Timer1_Timer(); // caption blinking
    ASSERT_EQ(w->windowTitle(), "Réglage de l'alarme (Alarme activée)");
    w->FlatBar3_Click(0);
    EXPECT_FALSE(form->isAlarmArmed());
    EXPECT_FALSE(w->Timer1->isActive());
    EXPECT_FALSE(w->isVisible());
    EXPECT_TRUE(w->isActiverShown());
    EXPECT_EQ(w->windowTitle(), "Réglage de l'alarme");
    EXPECT_FALSE(walk(at(0, 22, 31)).isValid());

    // Armed again with its programme (no choice asked), then rung.
    clock.set(22, 10);
    form->Alarme_Click();
    EXPECT_EQ(App::form6, w);
    EXPECT_EQ(w->Label1->text() + w->Label3->text(), "2230");
    w->FlatBar1_Click(0);
    EXPECT_EQ(managerShown, 1);
    ASSERT_TRUE(walk(at(0, 22, 31)).isValid());
    QCoreApplication::processEvents();
    ASSERT_FALSE(App::form6);
    // A fresh window proposes the present time.
    clock.set(6, 5);
    form->Alarme->trigger();
    ASSERT_TRUE(App::form6 && App::form6->isVisible());
    EXPECT_NE(App::form6, w);
    EXPECT_TRUE(App::form6->isActiverShown());
    EXPECT_EQ(App::form6->Label1->text() + App::form6->Label2->text() + App::form6->Label3->text(), "6H05");
    App::form6->HScroll2->setValue(30);
    EXPECT_EQ(App::form6->Label3->text(), "30");
}

TEST_F(AlarmTest, ArmingWithoutAProgrammeOffersTheChoiceAgainOnRetry) {
    loadAnswering();
    makeList("matin", 2);
    int retries = 0;
    answerBoxes([&](const QString &) {
        // Nothing chosen three times, then the list.
        managerWillChoose(++retries < 3 ? QString() : QString("matin"));
        return QMessageBox::Retry;
    });
    form->Alarme_Click();
    managerWillChoose("");
    App::form6->FlatBar1_Click(0);
    EXPECT_EQ(managerShown, 4);
    EXPECT_EQ(messages, QStringList(3, "Vous devez d'abord sélectionner une liste !"));
    EXPECT_TRUE(form->isAlarmArmed());
    EXPECT_EQ(form->List3->count(), 2);
    EXPECT_TRUE(transport(true));

    // Cancel gives up and arms nothing.
    App::form6->FlatBar3_Click(0);
    form->FlatBar3_Click(0); // programme cleared
    answerBoxes([](const QString &) { return QMessageBox::Cancel; });
    managerWillChoose("");
    App::form6->FlatBar1_Click(0);
    EXPECT_FALSE(form->isAlarmArmed());
    EXPECT_EQ(managerShown, 5);
}

TEST_F(AlarmTest, DateAndTimeToolFromTheTime) {
    FakeLauncher launcher;
    loadAnswering();
    form->Alarme_Click();
    Form6 *w = App::form6;
    QTest::mouseDClick(w->Label3, Qt::LeftButton);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains("date et de l'heure")) << messages[0].toStdString();
    launcher.installed << "gnome-control-center";
    w->Regler->trigger();
    EXPECT_EQ(launcher.started.size(), 1);
    EXPECT_EQ(messages.size(), 1);
    QTest::mouseClick(w->Label1, Qt::RightButton);
    EXPECT_TRUE(w->Heure->isVisible());
    w->Heure->close();
}

TEST_F(AlarmTest, RingsByItselfWhenItsTimeComes) {
    // The clock runs: the window's own timers must ring it.
    clock.running = true;
    clock.set(22, 29, 57);
    armed(22, 30);
    EXPECT_FALSE(rung());
    ASSERT_TRUE(waitFor([&] { return rung(); }, 30000));
    EXPECT_GE(clock.Now(), at(0, 22, 30));
}

} // namespace
