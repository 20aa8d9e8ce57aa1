#include "platform/desktop/launcher.h"

#include "platform/filename.h"

#include <QDesktopServices>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QStandardPaths>

#include <cerrno>
#include <fcntl.h>
#include <linux/close_range.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

ProgramLauncher *g_launcher = nullptr;
// The descriptor limit the player was given, for the programs it starts.
rlimit g_startLimit{RLIM_INFINITY, RLIM_INFINITY};
bool g_limitRaised = false;

// In the child, between fork and exec: only async-signal-safe calls. Every
// descriptor past 0, 1 and 2 closes at exec, whoever opened it (libraries
// open theirs without close-on-exec); the error report pipe stays usable
// until then.
void closeOnExecFrom3(rlim_t softLimit) {
    if (syscall(SYS_close_range, 3u, ~0u, CLOSE_RANGE_CLOEXEC) == 0)
        return;
    const int last = softLimit == RLIM_INFINITY || softLimit > 1u << 20 ? 1 << 20 : int(softLimit);
    for (int fd = 3; fd < last; ++fd) {
        const int flags = fcntl(fd, F_GETFD);
        if (flags >= 0 && !(flags & FD_CLOEXEC))
            fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
    }
}

} // namespace

void RaiseDescriptorLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max)
        return;
    const rlimit start = limit;
    limit.rlim_cur = limit.rlim_max;
    if (setrlimit(RLIMIT_NOFILE, &limit) == 0) {
        g_startLimit = start;
        g_limitRaised = true;
    }
}

QString ProgramLauncher::FindProgram(const QString &program) const {
    if (program.isEmpty())
        return QString();
    if (!program.contains('/'))
        return QStandardPaths::findExecutable(program);
    const QFileInfo info(program);
    if (info.exists() && info.isFile() && info.isExecutable())
        return info.absoluteFilePath();
    return QString();
}

bool ProgramLauncher::StartDetached(const QString &program, const QStringList &arguments) {
    // QProcess would pass the arguments through the locale's codec and lose
    // the bytes of a file name that is not UTF-8; so fork and exec here.
    // Everything the child needs is prepared before the fork.
    const QByteArray path = EncodeFileName(program);
    std::vector<QByteArray> bytes;
    bytes.reserve(arguments.size() + 1);
    bytes.push_back(path);
    for (const QString &a : arguments)
        bytes.push_back(EncodeFileName(a));
    std::vector<char *> argv;
    for (QByteArray &b : bytes)
        argv.push_back(b.data());
    argv.push_back(nullptr);

    rlimit current{};
    getrlimit(RLIMIT_NOFILE, &current);
    const bool restoreLimit = g_limitRaised;
    const rlimit startLimit = g_startLimit;

    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0)
        return false;
    const pid_t child = fork();
    if (child < 0) {
        close(report[0]);
        close(report[1]);
        return false;
    }
    if (child == 0) {
        // The grandchild runs the program; the child exits at once so the
        // program is nobody's zombie.
        const pid_t grandchild = fork();
        if (grandchild == 0) {
            setsid();
            closeOnExecFrom3(current.rlim_cur);
            // Programs that still use select() expect the usual limit.
            if (restoreLimit)
                setrlimit(RLIMIT_NOFILE, &startLimit);
            execv(path.constData(), argv.data());
            const int error = errno;
            [[maybe_unused]] const ssize_t n = write(report[1], &error, sizeof error);
            _exit(127);
        }
        _exit(grandchild < 0 ? 1 : 0);
    }
    close(report[1]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    // The pipe closes without data when exec succeeded.
    int error = 0;
    ssize_t n;
    while ((n = read(report[0], &error, sizeof error)) < 0 && errno == EINTR) {
    }
    close(report[0]);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 && n == 0;
}

namespace {

// How long xdg-open may take to say it found nothing. A later end is the
// program it ran in the foreground (a browser) closing, not a failure.
constexpr qint64 kOpenVerdictMs = 20000;

// Starts `argv` detached, as StartDetached does, and returns a pipe that
// receives its exit status (an int) when it ends; -1 when nothing started.
// A watcher process of ours waits for it, holding none of our descriptors.
int startWatched(std::vector<char *> argv) {
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0)
        return -1;
    const pid_t child = fork();
    if (child < 0) {
        close(report[0]);
        close(report[1]);
        return -1;
    }
    if (child == 0) {
        const pid_t watcher = fork();
        if (watcher != 0)
            _exit(watcher < 0 ? 1 : 0);
        // The watcher outlives us, maybe for as long as the browser runs: it
        // must not keep our sockets or lock open.
        if (report[1] != 3 && dup3(report[1], 3, O_CLOEXEC) < 0)
            _exit(1);
        close_range(4, ~0U, 0);
        const pid_t program = fork();
        if (program == 0) {
            setsid();
            execv(argv[0], argv.data());
            _exit(127);
        }
        int code = 127;
        int status = 0;
        if (program > 0) {
            pid_t r;
            while ((r = waitpid(program, &status, 0)) < 0 && errno == EINTR) {
            }
            code = r < 0 ? 0 : WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        [[maybe_unused]] const ssize_t n = write(3, &code, sizeof code);
        _exit(0);
    }
    close(report[1]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        close(report[0]);
        return -1;
    }
    return report[0];
}

} // namespace

void ProgramLauncher::OpenDocument(const QUrl &address, std::function<void(bool opened)> done) {
    if (!done)
        done = [](bool) {};
    // xdg-open tells whether a program took the address; QDesktopServices
    // only whether xdg-open started.
    const QString opener = QStandardPaths::findExecutable("xdg-open");
    if (opener.isEmpty()) {
        done(QDesktopServices::openUrl(address));
        return;
    }
    QByteArray program = EncodeFileName(opener), argument = address.toEncoded();
    const int fd = startWatched({program.data(), argument.data(), nullptr});
    if (fd < 0) {
        done(false);
        return;
    }
    auto *notifier = new QSocketNotifier(fd, QSocketNotifier::Read);
    QElapsedTimer since;
    since.start();
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [notifier, fd, since, done] {
        notifier->setEnabled(false);
        notifier->deleteLater();
        int code = 0;
        ssize_t n;
        while ((n = read(fd, &code, sizeof code)) < 0 && errno == EINTR) {
        }
        close(fd);
        done(n != sizeof code || code == 0 || since.elapsed() > kOpenVerdictMs);
    });
}

ProgramLauncher &Launcher() {
    static ProgramLauncher system;
    return g_launcher ? *g_launcher : system;
}

void SetLauncher(ProgramLauncher *launcher) {
    g_launcher = launcher;
}

QVector<ToolCommand> StandIns(SystemTool tool) {
    switch (tool) {
    case SystemTool::Mixer:
        return {{"pavucontrol", {}},
                {"pavucontrol-qt", {}},
                {"gnome-control-center", {"sound"}},
                {"kcmshell5", {"kcm_pulseaudio"}}};
    case SystemTool::SoundSettings:
        return {{"gnome-control-center", {"sound"}},
                {"kcmshell5", {"kcm_pulseaudio"}},
                {"pavucontrol", {"--tab=5"}},
                {"pavucontrol-qt", {}}};
    case SystemTool::DateTime:
        return {{"gnome-control-center", {"datetime"}}, {"kcmshell5", {"clock"}}, {"time-admin", {}}};
    }
    return {};
}

QString StartSystemTool(SystemTool tool) {
    for (const ToolCommand &c : StandIns(tool)) {
        const QString path = Launcher().FindProgram(c.program);
        if (path.isEmpty())
            continue;
        if (Launcher().StartDetached(path, c.arguments))
            return QString();
        return "Impossible de lancer " + c.program + ".";
    }
    QStringList names;
    for (const ToolCommand &c : StandIns(tool))
        if (!names.contains(c.program))
            names << c.program;
    const QString list = names.join(", ");
    switch (tool) {
    case SystemTool::Mixer:
        return "Aucun contrôle du volume n'est installé.\nInstallez l'un de ces programmes : " + list + ".";
    case SystemTool::SoundSettings:
        return "Aucun réglage du son n'est installé.\nInstallez l'un de ces programmes : " + list + ".";
    case SystemTool::DateTime:
        return "Aucun réglage de la date et de l'heure n'est installé.\nInstallez l'un de ces programmes : " +
               list + ".";
    }
    return QString();
}
