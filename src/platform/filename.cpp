#include "platform/filename.h"

namespace {

constexpr char16_t kEscapeBase = 0xF700; // byte b is U+F700 + b, b >= 0x80

bool isEscape(char16_t c) {
    return c >= 0xF780 && c <= 0xF7FF;
}

// Length of the valid UTF-8 sequence at p (1 to 4), or 0 when it is not one.
int utf8Sequence(const unsigned char *p, qsizetype left) {
    const unsigned char c = p[0];
    if (c < 0x80)
        return 1;
    int n = 0;
    char32_t cp = 0, min = 0;
    if ((c & 0xE0) == 0xC0) {
        n = 2, cp = c & 0x1F, min = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
        n = 3, cp = c & 0x0F, min = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
        n = 4, cp = c & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (left < n)
        return 0;
    for (int i = 1; i < n; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    if (cp >= 0xF780 && cp <= 0xF7FF) // our own escapes: escape their bytes too
        return 0;
    return n;
}

// Windows-1252's 0x80 to 0x9F; the rest of the high half is Latin-1.
constexpr char16_t kCp1252High[32] = {0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD,
                                      0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

} // namespace

QString DecodeFileName(QByteArrayView bytes) {
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    const qsizetype size = bytes.size();
    // Valid runs convert in one go: a listing decodes every name it reads.
    qsizetype run = 0, i = 0;
    while (i < size) {
        const int n = p[i] < 0x80 ? 1 : utf8Sequence(p + i, size - i);
        if (n == 0)
            break;
        i += n;
    }
    if (i == size)
        return QString::fromUtf8(bytes);
    QString out;
    out.reserve(size);
    while (i < size) {
        const int n = utf8Sequence(p + i, size - i);
        if (n > 0) {
            i += n;
            continue;
        }
        out.append(QString::fromUtf8(bytes.sliced(run, i - run)));
        out.append(QChar(char16_t(kEscapeBase + p[i])));
        run = ++i;
    }
    out.append(QString::fromUtf8(bytes.sliced(run, i - run)));
    return out;
}

QByteArray EncodeFileName(const QString &name) {
    if (!HasEscapedBytes(name))
        return name.toUtf8();
    QByteArray out;
    out.reserve(name.size() * 2);
    qsizetype start = 0;
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t c = name.at(i).unicode();
        if (!isEscape(c))
            continue;
        out.append(QStringView(name).mid(start, i - start).toUtf8());
        out.append(char(c - kEscapeBase));
        start = i + 1;
    }
    out.append(QStringView(name).mid(start).toUtf8());
    return out;
}

QString DisplayFileName(const QString &name) {
    if (!HasEscapedBytes(name))
        return name;
    QString out = name;
    for (QChar &ch : out) {
        const char16_t c = ch.unicode();
        if (!isEscape(c))
            continue;
        const unsigned char b = c - kEscapeBase;
        ch = QChar(b < 0xA0 ? kCp1252High[b - 0x80] : char16_t(b));
    }
    return out;
}

bool HasEscapedBytes(const QString &name) {
    for (const QChar ch : name)
        if (isEscape(ch.unicode()))
            return true;
    return false;
}
