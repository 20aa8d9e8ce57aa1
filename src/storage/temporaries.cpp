#include "storage/temporaries.h"

#include "platform/filename.h"

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
    // The six characters are drawn from letters of both cases and digits: a
    // word or a date ("Tunabel.ini.backup", "Tunabel.ini.202612") is the
    // user's own copy, never ours.
    const auto ourShape = [](const char *six) {
        int lower = 0, upper = 0, digit = 0;
        for (int i = 0; i < 6; ++i) {
            const char c = six[i];
            lower += c >= 'a' && c <= 'z';
            upper += c >= 'A' && c <= 'Z';
            digit += c >= '0' && c <= '9';
        }
        return lower + upper + digit == 6 && (lower > 0) + (upper > 0) + (digit > 0) >= 2;
    };
    while (const dirent *e = ::readdir(dir)) {
        const char *name = e->d_name;
        if (strlen(name) != stem + 6 || memcmp(name, prefix.constData(), stem) != 0 || !ourShape(name + stem))
            continue;
        struct stat st {};
        if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
            st.st_mtime < before)
            ::unlinkat(dirFd, name, 0);
    }
    ::closedir(dir);
}
