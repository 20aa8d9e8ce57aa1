#include "platform/desktop/handover.h"

#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace handover {

namespace {

// A client that never finishes its batch is dropped after this long.
constexpr long long kReceiptWaitMs = 10000;
constexpr int kWatchMs = 2000;
// After running out of descriptors with no connection to give up.
constexpr int kAcceptPauseMs = 100;

long long nowMs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
}

bool sameUser(int fd) {
    ucred cred{};
    socklen_t len = sizeof cred;
    return getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0 && cred.uid == getuid();
}

QString local(const std::string &s) {
    return QString::fromLocal8Bit(s.c_str());
}

// What stands on a path where a socket was wanted, for the user.
QString occupant(const struct stat &st) {
    if (S_ISDIR(st.st_mode))
        return "un dossier";
    if (S_ISLNK(st.st_mode))
        return "un lien symbolique";
    if (S_ISSOCK(st.st_mode))
        return "un autre programme";
    return "un fichier";
}

// A notifier may be the one whose signal is being handled: it goes later,
// and stops watching its descriptor before that is closed.
void retire(QSocketNotifier *&notifier) {
    if (!notifier)
        return;
    notifier->setEnabled(false);
    notifier->deleteLater();
    notifier = nullptr;
}

} // namespace

Server::Server(QObject *parent) : QObject(parent) {
    m_watch.setInterval(kWatchMs);
    connect(&m_watch, &QTimer::timeout, this, &Server::watch);
}

Server::~Server() {
    while (!m_connections.empty())
        drop(m_connections.begin());
    closeListener();
}

bool Server::listen(int lockFd) {
    std::string folderNotice;
    m_folder = RuntimeFolder(&folderNotice);
    m_notice = QString::fromUtf8(folderNotice.c_str());
    bool ok = false;
    if (m_folder.empty())
        m_error = "aucun dossier d'exécution privé";
    else
        ok = bindFirstFree();
    if (lockFd >= 0) {
        flock(lockFd, LOCK_UN);
        close(lockFd);
    }
    if (ok)
        m_watch.start();
    return ok;
}

bool Server::bindFirstFree() {
    const bool first = m_path.empty();
    QStringList taken;
    for (const std::string &path : SocketPaths(m_folder)) {
        struct stat st;
        if (lstat(path.c_str(), &st) == 0) {
            // Under the start lock a socket nobody answers is a crashed
            // player's; anything else is left alone.
            bool stale = false;
            if (S_ISSOCK(st.st_mode)) {
                const int fd = ConnectToPlayer(path);
                stale = fd < 0 && errno == ECONNREFUSED;
                if (fd >= 0)
                    close(fd);
            }
            if (!stale || unlink(path.c_str()) != 0) {
                taken << "« " + local(path) + " » est occupé par " + occupant(st);
                continue;
            }
        } else if (errno != ENOENT) {
            continue;
        }
        sockaddr_un addr{};
        if (path.size() >= sizeof addr.sun_path)
            break;
        addr.sun_family = AF_UNIX;
        std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
        const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0) {
            m_error = QString::fromLocal8Bit(std::strerror(errno));
            return false;
        }
        if (bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
            chmod(path.c_str(), 0600) != 0 || ::listen(fd, SOMAXCONN) != 0 || lstat(path.c_str(), &st) != 0) {
            m_error = QString::fromLocal8Bit(std::strerror(errno));
            close(fd);
            continue;
        }
        m_listenFd = fd;
        m_dev = st.st_dev;
        m_ino = st.st_ino;
        m_path = path;
        m_listenNotifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
        connect(m_listenNotifier, &QSocketNotifier::activated, this, &Server::acceptAll);
        if (first && !taken.isEmpty()) {
            if (!m_notice.isEmpty())
                m_notice += "\n";
            m_notice += taken.join(" ; ") + ". Le lecteur reçoit les fichiers par « " + local(path) +
                        " » à sa place.";
        }
        return true;
    }
    m_error = taken.isEmpty() ? m_error : taken.join(" ; ");
    return false;
}

void Server::closeListener() {
    retire(m_listenNotifier);
    if (m_listenFd < 0)
        return;
    close(m_listenFd);
    m_listenFd = -1;
    // Only our own socket file goes: something else may stand there now.
    struct stat st;
    if (lstat(m_path.c_str(), &st) == 0 && st.st_dev == m_dev && st.st_ino == m_ino)
        unlink(m_path.c_str());
}

void Server::acceptAll() {
    for (;;) {
        const int fd = accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            const int error = errno;
            if (error == EAGAIN || error == EWOULDBLOCK)
                return;
            if (error == EINTR || error == ECONNABORTED || error == EPROTO)
                continue;
            if (error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM) {
                // Out of descriptors: the oldest connection makes room; with
                // none, wait a little rather than spin on a socket that stays
                // readable.
                if (!m_connections.empty()) {
                    drop(m_connections.begin());
                    continue;
                }
                m_listenNotifier->setEnabled(false);
                QTimer::singleShot(kAcceptPauseMs, this, [this] {
                    if (m_listenNotifier)
                        m_listenNotifier->setEnabled(true);
                });
                return;
            }
            // The listener itself failed.
            closeListener();
            relisten();
            return;
        }
        if (!sameUser(fd)) {
            close(fd);
            continue;
        }
        if (int(m_connections.size()) >= kMaxConnections)
            drop(m_connections.begin());
        m_connections.push_back({fd, nowMs() + kReceiptWaitMs, nullptr, {}});
        const auto c = std::prev(m_connections.end());
        c->notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
        connect(c->notifier, &QSocketNotifier::activated, this, [this, c] { readFrom(c); });
        readFrom(c);
    }
}

void Server::readFrom(Connections::iterator c) {
    char buf[16384];
    for (;;) {
        const ssize_t n = recv(c->fd, buf, sizeof buf, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        if (n <= 0)
            return drop(c); // the client went before its batch was whole
        const RequestParser::Status status = c->parser.feed(buf, n);
        if (status == RequestParser::Status::NeedMore)
            continue;
        const QStringList requests = c->parser.requests();
        // The batch is taken only when its receipt went out, so a client
        // that sees the connection end without one can send it again.
        const bool taken = status == RequestParser::Status::Done &&
                           send(c->fd, &kReceipt, 1, MSG_NOSIGNAL | MSG_DONTWAIT) == 1;
        drop(c);
        if (taken)
            emit batch(requests);
        return;
    }
}

void Server::drop(Connections::iterator c) {
    retire(c->notifier);
    close(c->fd);
    m_connections.erase(c);
}

void Server::watch() {
    const long long now = nowMs();
    while (!m_connections.empty() && m_connections.front().deadline <= now)
        drop(m_connections.begin());
    struct stat st;
    if (m_listenFd >= 0 && lstat(m_path.c_str(), &st) == 0 && st.st_dev == m_dev && st.st_ino == m_ino)
        return;
    // Our socket file was removed (a cleaner of temporary files, a user) or
    // the listener failed: clients would start a second player.
    closeListener();
    relisten();
}

bool Server::relisten() {
    // The start lock keeps this from racing a start that found no one.
    const int lock = TakeStartLock(m_folder, 0);
    if (lock < 0)
        return false;
    const bool ok = bindFirstFree();
    flock(lock, LOCK_UN);
    close(lock);
    return ok;
}

} // namespace handover
