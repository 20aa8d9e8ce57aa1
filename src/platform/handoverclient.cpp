#include "platform/handoverclient.h"

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

int connectTo(const std::string &path) {
    sockaddr_un addr{};
    if (path.size() >= sizeof addr.sun_path)
        return -1;
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
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

void putU32(std::string &out, unsigned v) {
    out.push_back(char(v >> 24));
    out.push_back(char(v >> 16));
    out.push_back(char(v >> 8));
    out.push_back(char(v));
}

long long nowMs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
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

std::string RuntimeFolder() {
    const char *runtime = getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/' && privateFolder(runtime))
        return runtime;
    // No runtime folder of the user's own: a private one of ours, never one
    // that someone else made for us.
    const std::string own = "/tmp/tunabel-" + std::to_string(getuid());
    if (mkdir(own.c_str(), 0700) != 0 && errno != EEXIST)
        return {};
    return privateFolder(own) ? own : std::string();
}

std::string SocketPath() {
    const std::string folder = RuntimeFolder();
    return folder.empty() ? std::string() : folder + "/tunabel.socket";
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

bool SendBatch(int fd, const std::vector<std::string> &requests, int timeoutMs) {
    std::string out(kMagic, sizeof kMagic);
    putU32(out, unsigned(requests.size()));
    for (const std::string &r : requests) {
        putU32(out, unsigned(r.size()));
        out += r;
    }
    size_t sent = 0;
    while (sent < out.size()) {
        const ssize_t n = send(fd, out.data() + sent, out.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        sent += size_t(n);
    }
    const long long deadline = nowMs() + timeoutMs;
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        const long long left = deadline - nowMs();
        if (left <= 0)
            return false;
        const int r = poll(&p, 1, int(left));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return false;
        char c = 0;
        const ssize_t n = recv(fd, &c, 1, 0);
        if (n < 0 && errno == EINTR)
            continue;
        return n == 1 && c == kReceipt;
    }
}

Claim ClaimOrForward(const std::vector<std::string> &requests, int *lockFd) {
    *lockFd = -1;
    const std::string folder = RuntimeFolder();
    if (folder.empty())
        return Claim::NoChannel;
    const std::string socketPath = folder + "/tunabel.socket";
    if (socketPath.size() >= sizeof(sockaddr_un::sun_path))
        return Claim::NoChannel;
    auto forward = [&](int fd) {
        const bool ok = SendBatch(fd, requests, kReceiptWaitMs);
        close(fd);
        return ok ? Claim::Forwarded : Claim::Failed;
    };
    if (const int fd = connectTo(socketPath); fd >= 0)
        return forward(fd);

    // Nobody answers: take the start lock, so that of several starts at the
    // same moment one becomes the player and the others hand over to it.
    const std::string lockPath = folder + "/tunabel.lock";
    const int lock = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (lock < 0)
        return Claim::NoChannel;
    const long long deadline = nowMs() + kLockWaitMs;
    while (flock(lock, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR) {
            close(lock);
            return Claim::NoChannel;
        }
        if (nowMs() > deadline) {
            close(lock);
            return Claim::Failed;
        }
        usleep(2000);
    }
    if (const int fd = connectTo(socketPath); fd >= 0) {
        close(lock);
        return forward(fd);
    }
    // Only a socket nobody listens on (or none at all) may be taken over.
    if (errno != ECONNREFUSED && errno != ENOENT) {
        close(lock);
        return Claim::Failed;
    }
    *lockFd = lock;
    return Claim::Primary;
}

} // namespace handover
