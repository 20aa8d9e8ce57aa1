#include "platform/desktop/endsignals.h"
#include "platform/desktop/handover.h"
#include "platform/desktop/launcher.h"
#include "platform/engine/mediafactory.h"
#include "platform/filename.h"
#include "platform/fonts.h"
#include "platform/language.h"
#include "player/form1.h"
#include "windows/form3.h"

#include <QApplication>
#include <QDBusConnection>
#include <QPointer>
#include <QTimer>

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char **argv) {
    // Hostile clients of the hand-over, or a long session, must not find the
    // player at a low default limit of descriptors.
    RaiseDescriptorLimit();
    // A second start hands its files over and exits before the media engine
    // or any window starts. Started by the command, the lock is ours already.
    const std::string cwd = handover::CurrentFolder();
    std::vector<std::string> requests;
    for (int i = 1; i < argc; ++i) {
        const std::string r = handover::WrapArgument(argv[i], cwd);
        if (r.empty())
            std::fprintf(stderr, "tunabel : argument ignoré : %s\n", argv[i]);
        else
            requests.push_back(r);
    }
    int lockFd = handover::InheritedLock();
    const handover::Claim claim =
        lockFd >= 0 ? handover::Claim::Primary : handover::ClaimOrForward(requests, &lockFd);
    if (claim == handover::Claim::Forwarded)
        return 0;
    if (claim == handover::Claim::Failed) {
        std::fprintf(stderr, "tunabel : le lecteur déjà ouvert ne répond pas.\n");
        return 1;
    }

    // The engine starts in the background; the windows never wait for it.
    StartMediaEngine();
    QApplication app(argc, argv);
    WarmUpFonts();
    QApplication::setApplicationName("Tunabel");
    QApplication::setApplicationVersion("3.0.0");
    QApplication::setQuitOnLastWindowClosed(false);
    LoadQtFrench();

    // The session's end saves the session: before the channel opens, so a
    // peer that sees the channel may also end the player cleanly.
    bool endAsked = false, loaded = false;
    QuitOnEndSignals(&app, [&endAsked, &loaded] {
        endAsked = true;
        if (loaded && App::form1)
            App::form1->Quit_Click();
    });

    // Why files opened from the desktop will not reach this player, or reach
    // it by an unusual way: said once, when the main window is up.
    handover::Server server;
    QString notice;
    if (claim == handover::Claim::Primary && !server.listen(lockFd))
        notice = "Le lecteur ne peut pas recevoir les fichiers ouverts depuis le bureau (" +
                 server.errorString() + ") : chaque ouverture démarrera un autre lecteur.";
    else if (claim == handover::Claim::Primary)
        notice = server.notice();
    if (claim == handover::Claim::NoChannel) {
        std::string why;
        handover::RuntimeFolder(&why);
        notice =
            QString::fromUtf8(why.empty() ? "Le lecteur ne peut pas recevoir les fichiers ouverts depuis le "
                                            "bureau : chaque ouverture démarrera un autre lecteur."
                                          : why.c_str());
    }
    if (!notice.isEmpty())
        std::fprintf(stderr, "tunabel : %s\n", qPrintable(notice));
    QList<QStringList> early; // arrived while the main window loads
    QObject::connect(&server, &handover::Server::batch, &app, [&early](const QStringList &batch) {
        if (App::form1)
            App::form1->HandOver(batch);
        else
            early.append(batch);
    });

    App::form3 = new Form3;
    App::form3->Form_Load();
    if (!App::form1)
        return 1;
    QPointer<Form1> form = App::form1;
    QObject::connect(App::form1, &QObject::destroyed, &app, &QApplication::quit);
    // The bus once the window is up: connecting to it is no part of showing.
    QTimer::singleShot(0, form, [form] { form->StartMpris(QDBusConnection::sessionBus()); });
    loaded = true;
    if (endAsked) // while the window loaded
        QTimer::singleShot(0, form, [form] { form->Quit_Click(); });

    if (!notice.isEmpty())
        QTimer::singleShot(0, form, [form, notice] { form->Message(notice, QMessageBox::Warning); });

    QStringList own;
    for (const std::string &r : requests)
        own << DecodeFileName(QByteArray::fromStdString(r));
    if (!own.isEmpty())
        form->HandOver(own);
    for (const QStringList &batch : early)
        if (form)
            form->HandOver(batch);

    const int status = app.exec();
    // The media pipeline is taken down with the window, before the end.
    delete form;
    return status;
}
