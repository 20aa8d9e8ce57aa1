#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVector>

#include <functional>

// Starts other programs. Never through a shell: the arguments reach the
// program exactly as given, one each, whatever quotes or dollars they hold.
class ProgramLauncher {
public:
    virtual ~ProgramLauncher() = default;
    // The executable a name or a path stands for, "" when there is none. A
    // name without '/' is looked up in PATH; a path must be an executable
    // regular file.
    virtual QString FindProgram(const QString &program) const;
    // Starts an executable found by FindProgram without waiting for it;
    // false when it could not be started. File names go out as their own
    // bytes (platform/filename.h).
    virtual bool StartDetached(const QString &program, const QStringList &arguments);
    // Hands a web or mailto: address to the desktop. `done` learns once,
    // maybe before this returns, whether a program took it.
    virtual void OpenDocument(const QUrl &address, std::function<void(bool opened)> done = {});
};

// Raises the player's soft limit of open descriptors to the hard one, at
// start; programs it starts get the limit it was given back.
void RaiseDescriptorLimit();

// The launcher in use; tests put a recording one in place (null restores
// the system's).
ProgramLauncher &Launcher();
void SetLauncher(ProgramLauncher *launcher);

// The desktop tools that stand in for the system's own: the first installed
// of a short list is started.
enum class SystemTool { Mixer, SoundSettings, DateTime };

struct ToolCommand {
    QString program;
    QStringList arguments;
};

QVector<ToolCommand> StandIns(SystemTool tool);
// Starts the tool; "" when it started, otherwise the message to show.
QString StartSystemTool(SystemTool tool);
