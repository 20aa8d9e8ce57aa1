#pragma once

// Plain socket helpers shared by the hand-over tests and benchmarks.
#include <QtGlobal>

#include <cstring>
#include <dirent.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

// A non-blocking connection to the socket at `path`; -1 when none is made.
inline int RawClientTo(const std::string &path) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// The descriptors process `pid` holds open.
inline int OpenDescriptors(qint64 pid) {
    int n = 0;
    if (DIR *d = opendir(("/proc/" + std::to_string(pid) + "/fd").c_str())) {
        while (const dirent *e = readdir(d))
            n += e->d_name[0] != '.';
        closedir(d);
    }
    return n;
}
