#pragma once

#include "platform/desktop/launcher.h"

#include <QList>
#include <QStringList>
#include <QUrl>
#include <QVector>

// A launcher that starts nothing: it records what would have started. Names
// in `installed` are found in PATH; paths are looked up for real. It takes
// the launcher's place for its lifetime.
class FakeLauncher : public ProgramLauncher {
public:
    struct Start {
        QString program;
        QStringList arguments;
    };

    FakeLauncher() { SetLauncher(this); }
    ~FakeLauncher() override { SetLauncher(nullptr); }

    QString FindProgram(const QString &program) const override {
        if (!program.contains('/'))
            return installed.contains(program) ? "/usr/bin/" + program : QString();
        return ProgramLauncher::FindProgram(program);
    }
    bool StartDetached(const QString &program, const QStringList &arguments) override {
        if (startFails)
            return false;
        started.push_back({program, arguments});
        return true;
    }
    void OpenDocument(const QUrl &address, std::function<void(bool)> done) override {
        documents << address;
        if (done)
            done(!openFails);
    }

    QStringList installed;
    bool startFails = false;
    bool openFails = false; // no browser or mail program takes the address
    QVector<Start> started;
    QList<QUrl> documents;
};
