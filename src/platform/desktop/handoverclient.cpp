#include "platform/desktop/handoverclient.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

namespace handover {

namespace {

// How long a start waits for another one that holds the lock.
constexpr int kLockWaitMs = 15000;
constexpr int kReceiptWaitMs = 10000;

bool privateFolder(const std::string &path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == getuid() &&
           (st.st_mode & 077) == 0;
}

long long nowMs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
}

// Tries of a connection that ends before its receipt or finds the player's
// queue full, and the first pause between them (doubled each time).
constexpr int kTries = 6;
constexpr int kFirstPauseMs = 5;

int connectTo(const std::string &path) {
    sockaddr_un addr{};
    if (path.size() >= sizeof addr.sun_path) {
        errno = ENAMETOOLONG;
        return -1;
    }
    // Not blocking: a full queue is EAGAIN at once, never a wait without end.
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return -1;
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    if (connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        const int error = errno;
        close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

// True when the folder is ours and private, made now if it does not exist.
bool ownFolder(const std::string &path) {
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
        return false;
    return privateFolder(path);
}

void pause(int ms) {
    timespec ts{ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

// Waits for `events` on fd until the deadline; false on time-out.
bool waitFor(int fd, short events, long long deadline) {
    for (;;) {
        pollfd p{fd, events, 0};
        const long long left = deadline - nowMs();
        if (left <= 0)
            return false;
        const int r = poll(&p, 1, int(left));
        if (r < 0 && errno == EINTR)
            continue;
        return r > 0;
    }
}

void putU32(std::string &out, unsigned v) {
    out.push_back(char(v >> 24));
    out.push_back(char(v >> 16));
    out.push_back(char(v >> 8));
    out.push_back(char(v));
}

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The local path of a file:// URI; "" when it is not one we can open.
std::string uriPath(const std::string &uri) {
    std::string rest = uri.substr(7);
    if (rest.rfind("localhost/", 0) == 0)
        rest.erase(0, 9);
    if (rest.empty() || rest[0] != '/')
        return {};
    std::string out;
    for (size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] == '?' || rest[i] == '#')
            break;
        if (rest[i] != '%') {
            out.push_back(rest[i]);
            continue;
        }
        const int hi = i + 2 < rest.size() ? hexValue(rest[i + 1]) : -1;
        const int lo = hi >= 0 ? hexValue(rest[i + 2]) : -1;
        if (lo < 0)
            return {};
        out.push_back(char(hi * 16 + lo));
        i += 2;
    }
    if (out.find('\0') != std::string::npos)
        return {};
    return out;
}

bool startsWithNoCase(const std::string &s, const char *prefix) {
    for (size_t i = 0; prefix[i]; ++i)
        if (i >= s.size() || std::tolower((unsigned char)s[i]) != prefix[i])
            return false;
    return true;
}

bool hasScheme(const std::string &s) {
    const size_t colon = s.find("://");
    if (colon == std::string::npos || colon == 0)
        return false;
    for (size_t i = 0; i < colon; ++i)
        if (!std::isalnum((unsigned char)s[i]) && s[i] != '+' && s[i] != '-' && s[i] != '.')
            return false;
    return true;
}

} // namespace

std::string RuntimeFolder(std::string *notice) {
    const char *runtime = getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/' && privateFolder(runtime))
        return runtime;
    // No runtime folder of the user's own: a private one of ours, never one
    // that someone else made for us.
    const std::string own = "/tmp/tunabel-" + std::to_string(getuid());
    if (ownFolder(own))
        return own;
    // Someone took that name first: a folder in the home, which no one else
    // can have made.
    const char *home = getenv("HOME");
    std::string fallback;
    if (home && home[0] == '/') {
        const std::string cache = std::string(home) + "/.cache";
        mkdir(cache.c_str(), 0700);
        if (ownFolder(cache + "/tunabel"))
            fallback = cache + "/tunabel";
    }
    if (notice) {
        *notice = "Le dossier « " + own + " » appartient à un autre utilisateur ou n'est pas privé. ";
        *notice += fallback.empty()
                       ? "Aucun autre dossier privé n'a été trouvé : chaque ouverture de fichier "
                         "depuis le bureau démarrera un autre lecteur."
                       : "Le lecteur reçoit les fichiers par « " + fallback + " » à sa place.";
    }
    return fallback;
}

std::vector<std::string> SocketPaths(const std::string &folder) {
    return {folder + "/tunabel.socket", folder + "/tunabel-1.socket", folder + "/tunabel-2.socket",
            folder + "/tunabel-3.socket"};
}

std::string SocketPath() {
    const std::string folder = RuntimeFolder();
    if (folder.empty())
        return {};
    for (const std::string &path : SocketPaths(folder)) {
        struct stat st;
        if (lstat(path.c_str(), &st) != 0 ? errno == ENOENT : S_ISSOCK(st.st_mode))
            return path;
    }
    return {};
}

int ConnectToPlayer(const std::string &path) {
    // A link could lead anywhere: only the socket itself, in our private folder.
    struct stat st;
    if (lstat(path.c_str(), &st) != 0)
        return -1;
    if (!S_ISSOCK(st.st_mode)) {
        errno = S_ISLNK(st.st_mode) ? EPERM : ECONNREFUSED;
        return -1;
    }
    const int fd = connectTo(path);
    if (fd < 0)
        return -1;
    ucred cred{};
    socklen_t len = sizeof cred;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || cred.uid != getuid()) {
        close(fd);
        errno = EPERM;
        return -1;
    }
    return fd;
}

int TakeStartLock(const std::string &folder, int waitMs) {
    const std::string lockPath = folder + "/tunabel.lock";
    const int lock = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (lock < 0)
        return -1;
    const long long deadline = nowMs() + waitMs;
    while (flock(lock, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        if ((error != EWOULDBLOCK && error != EINTR) || nowMs() >= deadline) {
            close(lock);
            errno = error == EINTR ? EWOULDBLOCK : error;
            return -1;
        }
        usleep(2000);
    }
    return lock;
}

std::string WrapArgument(const std::string &argument, const std::string &cwd) {
    std::string path;
    if (startsWithNoCase(argument, "file://")) {
        path = uriPath(argument);
    } else if (hasScheme(argument)) {
        return {};
    } else if (!argument.empty() && argument[0] == '/') {
        path = argument;
    } else if (!argument.empty()) {
        path = cwd + (cwd.size() > 1 ? "/" : "") + argument;
    }
    return path.empty() ? std::string() : "[" + path + "]";
}

std::string CurrentFolder() {
    char buf[4096];
    const std::string real = getcwd(buf, sizeof buf) ? buf : "";
    const char *pwd = getenv("PWD");
    struct stat a, b;
    if (pwd && pwd[0] == '/' && stat(pwd, &a) == 0 && stat(".", &b) == 0 && a.st_dev == b.st_dev &&
        a.st_ino == b.st_ino)
        return pwd;
    return real;
}

int InheritedLock() {
    const char *value = getenv(kLockVariable);
    if (!value)
        return -1;
    char *end = nullptr;
    const long fd = std::strtol(value, &end, 10);
    unsetenv(kLockVariable);
    if (end == value || *end || fd < 3 || fd > 65535)
        return -1;
    // Only a lock file of ours, on the runtime folder's lock path.
    struct stat held, ours;
    const std::string lockPath = RuntimeFolder() + "/tunabel.lock";
    if (fstat(int(fd), &held) != 0 || stat(lockPath.c_str(), &ours) != 0 || held.st_dev != ours.st_dev ||
        held.st_ino != ours.st_ino)
        return -1;
    fcntl(int(fd), F_SETFD, FD_CLOEXEC);
    return int(fd);
}

Delivery SendBatch(int fd, const std::vector<std::string> &requests, int timeoutMs) {
    std::string out(kMagic, sizeof kMagic);
    putU32(out, unsigned(requests.size()));
    for (const std::string &r : requests) {
        putU32(out, unsigned(r.size()));
        out += r;
    }
    const long long deadline = nowMs() + timeoutMs;
    size_t sent = 0;
    while (sent < out.size()) {
        const ssize_t n = send(fd, out.data() + sent, out.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            sent += size_t(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            if (!waitFor(fd, POLLOUT, deadline))
                return Delivery::TimedOut;
        } else {
            return Delivery::Reset;
        }
    }
    for (;;) {
        if (!waitFor(fd, POLLIN, deadline))
            return Delivery::TimedOut;
        char c = 0;
        const ssize_t n = recv(fd, &c, 1, MSG_DONTWAIT);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        // The end of the connection, or anything but the receipt: the
        // player did not take this batch.
        return n == 1 && c == kReceipt ? Delivery::Taken : Delivery::Reset;
    }
}

namespace {

enum class Reach { Nobody, Forwarded, Failed };

// Hands the batch to a player of ours on one of the folder's sockets. A
// connection reset before the receipt, or a queue found full, is tried again
// after a short pause: the batch was not taken, so it cannot arrive twice.
Reach forward(const std::string &folder, const std::vector<std::string> &requests) {
    for (const std::string &path : SocketPaths(folder)) {
        for (int attempt = 1, pauseMs = kFirstPauseMs;; ++attempt, pauseMs *= 2) {
            const int fd = ConnectToPlayer(path);
            Delivery delivery = Delivery::Reset;
            if (fd >= 0) {
                delivery = SendBatch(fd, requests, kReceiptWaitMs);
                close(fd);
                if (delivery == Delivery::Taken)
                    return Reach::Forwarded;
                if (delivery == Delivery::TimedOut)
                    return Reach::Failed;
            } else if (errno != EAGAIN) {
                break; // no player of ours there
            }
            if (attempt == kTries)
                return Reach::Failed;
            pause(pauseMs);
        }
    }
    return Reach::Nobody;
}

} // namespace

Claim ClaimOrForward(const std::vector<std::string> &requests, int *lockFd) {
    *lockFd = -1;
    const std::string folder = RuntimeFolder();
    if (folder.empty() || SocketPaths(folder).back().size() >= sizeof(sockaddr_un::sun_path))
        return Claim::NoChannel;
    if (const Reach r = forward(folder, requests); r != Reach::Nobody)
        return r == Reach::Forwarded ? Claim::Forwarded : Claim::Failed;

    // Nobody answers: take the start lock, so that of several starts at the
    // same moment one becomes the player and the others hand over to it.
    const int lock = TakeStartLock(folder, kLockWaitMs);
    if (lock < 0)
        return errno == EWOULDBLOCK ? Claim::Failed : Claim::NoChannel;
    // Under the lock, a socket nobody listens on is a crashed player's.
    if (const Reach r = forward(folder, requests); r != Reach::Nobody) {
        close(lock);
        return r == Reach::Forwarded ? Claim::Forwarded : Claim::Failed;
    }
    *lockFd = lock;
    return Claim::Primary;
}

} // namespace handover
