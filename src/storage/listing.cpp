#include "storage/listing.h"

#include "platform/filename.h"

#include <algorithm>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>
#include <vector>

namespace {

// The name with its case folded, as QString::toCaseFolded gives it, but
// with a quick path for the characters of one UTF-16 unit.
QString foldKey(const QString &name) {
    QString key(name.size(), Qt::Uninitialized);
    QChar *out = key.data();
    const QChar *in = name.constData();
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t c = in[i].unicode();
        if (c < 0x80) {
            out[i] = QChar(c >= 'A' && c <= 'Z' ? char16_t(c + 32) : c);
        } else if (QChar::isSurrogate(c)) {
            return name.toCaseFolded();
        } else {
            const char32_t f = QChar::toCaseFolded(char32_t(c));
            if (f > 0xFFFF)
                return name.toCaseFolded();
            out[i] = QChar(char16_t(f));
        }
    }
    return key;
}

QStringList suffixesOf(const QString &pattern) {
    QStringList out;
    for (const QString &part : pattern.split(';', Qt::SkipEmptyParts)) {
        const QString p = part.trimmed();
        if (p.startsWith("*."))
            out.append(p.mid(1).toCaseFolded()); // ".mp3"
    }
    return out;
}

} // namespace

QStringList SortedCaseFolded(const QStringList &names) {
    // Keys folded once.
    std::vector<std::pair<QString, qsizetype>> keys;
    keys.reserve(size_t(names.size()));
    for (qsizetype i = 0; i < names.size(); ++i)
        keys.emplace_back(foldKey(names[i]), i);
    std::sort(keys.begin(), keys.end(), [&](const auto &a, const auto &b) {
        if (a.first != b.first)
            return a.first < b.first;
        return names[a.second] < names[b.second];
    });
    QStringList sorted;
    sorted.reserve(names.size());
    for (const auto &k : keys)
        sorted.append(names[k.second]);
    return sorted;
}

QStringList ListMatchingFiles(const QString &folder, const QString &pattern) {
    QStringList names;
    DIR *dir = ::opendir(EncodeFileName(folder.isEmpty() ? QStringLiteral("/") : folder).constData());
    if (!dir)
        return names;
    const QStringList suffixes = suffixesOf(pattern);
    const int dirFd = ::dirfd(dir);
    while (const dirent *e = ::readdir(dir)) {
        const char *name = e->d_name;
        const char *dot = strrchr(name, '.');
        if (!dot || dot == name)
            continue;
        // Cheap test on the raw bytes before any conversion.
        const size_t extLen = strlen(dot);
        if (extLen > 5)
            continue;
        char ext[6];
        for (size_t i = 0; i <= extLen; ++i)
            ext[i] = char(tolower(static_cast<unsigned char>(dot[i])));
        if (!suffixes.contains(QLatin1String(ext)))
            continue;
        bool regular = e->d_type == DT_REG;
        if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) {
            struct stat st {};
            regular = ::fstatat(dirFd, name, &st, 0) == 0 && S_ISREG(st.st_mode);
        }
        if (regular)
            names.append(DecodeFileName(QByteArrayView(name)));
    }
    ::closedir(dir);
    return SortedCaseFolded(names);
}
