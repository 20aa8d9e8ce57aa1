#include "storage/temporaries.h"

#include "platform/filename.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

void RemoveStaleTemporaries(const QString &folder, const QByteArray &prefix) {
    DIR *dir = ::opendir(EncodeFileName(folder).constData());
    if (!dir)
        return;
    const int dirFd = ::dirfd(dir);
    const time_t before = ::time(nullptr) - kStaleTemporarySeconds;
    const auto stem = size_t(prefix.size());
    const auto unique = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    };
    while (const dirent *e = ::readdir(dir)) {
        const char *name = e->d_name;
        if (strlen(name) != stem + 6 || memcmp(name, prefix.constData(), stem) != 0 ||
            !std::all_of(name + stem, name + stem + 6, unique))
            continue;
        struct stat st {};
        if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
            st.st_mtime < before)
            ::unlinkat(dirFd, name, 0);
    }
    ::closedir(dir);
}
