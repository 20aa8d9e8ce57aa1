#include "storage/settingskeys.h"

#include "platform/settingsstore.h"

namespace {
constexpr const char *kApplication = "Tunabel";
}

QString Setting(const SettingKey &key) {
    return GetSetting(kApplication, QString::fromUtf8(key.section), QString::fromUtf8(key.key));
}

void Save(const SettingKey &key, const QString &value) {
    SaveSetting(kApplication, QString::fromUtf8(key.section), QString::fromUtf8(key.key), value);
}

bool ParseStoredNumber(const QString &text, qint64 &out) {
    if (text.isEmpty() || text != text.trimmed())
        return false;
    for (qsizetype i = 0; i < text.size(); ++i)
        if (!text[i].isDigit() && !(i == 0 && text[i] == '-'))
            return false;
    bool ok = false;
    out = text.toLongLong(&ok, 10);
    return ok;
}

QColor ColorFromStored(qint64 value) {
    const auto v = quint32(value);
    return QColor(int(v & 0xFF), int((v >> 8) & 0xFF), int((v >> 16) & 0xFF));
}

qint64 StoredColor(const QColor &color) {
    return color.red() + 256 * color.green() + 65536 * color.blue();
}
