#include "platform/fonts.h"

#include <QCoreApplication>
#include <QFont>
#include <QFontMetrics>

#include <thread>

void WarmUpFonts() {
    // Joined when the application object goes, which it outlives.
    auto *worker =
        new std::thread([] { QFontMetrics(QFont()).horizontalAdvance(QStringLiteral("Tunabel")); });
    QObject::connect(qApp, &QObject::destroyed, [worker] {
        worker->join();
        delete worker;
    });
}
