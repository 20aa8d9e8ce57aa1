#include "platform/fonts.h"
#include "platform/language.h"
#include "platform/mediafactory.h"
#include "player/form1.h"
#include "windows/form3.h"

#include <QApplication>

int main(int argc, char **argv) {
    // The engine starts in the background; the windows never wait for it.
    StartMediaEngine();
    QApplication app(argc, argv);
    WarmUpFonts();
    QApplication::setApplicationName("Tunabel");
    QApplication::setApplicationVersion("3.0.0");
    QApplication::setQuitOnLastWindowClosed(false);
    LoadQtFrench();
    App::form3 = new Form3;
    App::form3->Form_Load();
    if (!App::form1)
        return 1;
    QObject::connect(App::form1, &QObject::destroyed, &app, &QApplication::quit);
    return app.exec();
}
