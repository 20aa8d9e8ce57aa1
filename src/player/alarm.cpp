// The alarm: its menu item and the check that rings it.
#include "player/form1.h"

#include "platform/clock.h"
#include "windows/form6.h"
#include "windows/secondary.h"

#include <QApplication>

namespace {
constexpr qint64 kDayMs = qint64(24) * 3600 * 1000;
}

void Form1::connectAlarm() {
    connect(Alarme, &QAction::triggered, this, &Form1::Alarme_Click);
    connect(Alarma, &QTimer::timeout, this, &Form1::Alarma_Timer);
    AlarmShot = new QTimer(this);
    AlarmShot->setSingleShot(true);
    AlarmShot->setTimerType(Qt::PreciseTimer);
    connect(AlarmShot, &QTimer::timeout, this, &Form1::Alarma_Timer);
    AlarmWait = new QTimer(this);
    AlarmWait->setSingleShot(true);
    AlarmWait->setInterval(100);
    connect(AlarmWait, &QTimer::timeout, this, &Form1::Alarma_Timer);
}

void Form1::Alarme_Click() {
    if (!App::form6) {
        App::form6 = new Form6(this);
        App::form6->Form_Load();
    }
    ShowForward(App::form6);
}

QDateTime Form1::AlarmDueFrom(const QDateTime &from, int hour, int minute) {
    const QDateTime start(from.date(), QTime(from.time().hour(), from.time().minute()));
    const QTime at(hour, minute);
    QDateTime due(from.date(), at);
    if (due < start)
        due = QDateTime(from.date().addDays(1), at);
    return due;
}

void Form1::ArmAlarm() {
    Alarma->start();
    AimAlarm();
}

void Form1::DisarmAlarm() {
    Alarma->stop();
    AlarmShot->stop();
    AlarmWait->stop();
}

void Form1::AimAlarm() {
    if (!Alarma->isActive() || !App::form6)
        return;
    const QDateTime now = CurrentClock().Now();
    AlarmDue = AlarmDueFrom(now, App::form6->AlarmHour(), App::form6->AlarmMinute());
    // The 10 s check alone could ring up to 10 s late.
    AlarmShot->start(int(std::clamp(now.msecsTo(AlarmDue), qint64(0), kDayMs)));
}

void Form1::Alarma_Timer() {
    if (!Alarma->isActive() || AlarmFiring || m_unloaded)
        return;
    Form6 *window = App::form6;
    if (!window) { // armed always keeps the window loaded
        DisarmAlarm();
        return;
    }
    const QDateTime now = CurrentClock().Now();
    if (now < AlarmDue) {
        // Woken early, or the clock went back: aim again.
        AlarmShot->start(int(std::clamp(now.msecsTo(AlarmDue), qint64(0), kDayMs)));
        return;
    }
    // Never inside a modal step: it would unload the window under its own
    // loop. Ring as soon as the step is over.
    if (QApplication::activeModalWidget() || QApplication::activePopupWidget() || window->isBusy()) {
        AlarmWait->start();
        return;
    }
    AlarmFiring = true;
    FlatBar1_Click(kBarStop);
    DisarmAlarm();
    if (App::form6) {
        App::form6->Timer1->stop();
        App::form6->Unload();
    }
    if (!m_unloaded) {
        PlayMode = kModeProgramme;
        FlatBar1->PressButton(kBarProgrammation);
        ActiveMovie1->setPlayCount(1);
        FlatBar1_Click(kBarLecture);
    }
    AlarmFiring = false;
}
