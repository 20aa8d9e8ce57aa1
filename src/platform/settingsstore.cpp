#include "platform/settingsstore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include <map>
#include <memory>

namespace {

QString &settingsFolder() {
    static QString folder;
    return folder;
}

struct Store {
    std::unique_ptr<QSettings> settings;
    bool unusable = false; // the file on disk could not be parsed
};

std::map<QString, Store> &stores() {
    static std::map<QString, Store> all;
    return all;
}

Store &storeFor(const QString &app) {
    const QString path = SettingsFilePath(app);
    Store &store = stores()[path];
    if (!store.settings) {
        store.settings = std::make_unique<QSettings>(path, QSettings::IniFormat);
        store.unusable = store.settings->status() != QSettings::NoError;
    }
    return store;
}

// Section and key names are stored as given; QSettings would read a "/" as a
// group separator, so it is escaped.
QString keyPath(const QString &section, const QString &key) {
    QString s = section, k = key;
    s.replace('/', "%2F");
    k.replace('/', "%2F");
    return s + '/' + k;
}

QString asText(const QVariant &v) {
    if (v.userType() == QMetaType::QStringList)
        return v.toStringList().join(", ");
    return v.toString();
}

void write(Store &store) {
    if (store.unusable) {
        // Keep the damaged file aside instead of silently overwriting it.
        const QString path = store.settings->fileName();
        QFile::remove(path + ".illisible");
        QFile::rename(path, path + ".illisible");
        store.settings = std::make_unique<QSettings>(path, QSettings::IniFormat);
        store.unusable = false;
    }
    store.settings->sync();
}

} // namespace

QString SettingsFilePath(const QString &app) {
    QString folder = settingsFolder();
    if (folder.isEmpty())
        folder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + '/' + app;
    return folder + '/' + app + ".ini";
}

void SetSettingsFolder(const QString &folder) {
    stores().clear();
    settingsFolder() = folder;
}

QString GetSetting(const QString &app, const QString &section, const QString &key) {
    Store &store = storeFor(app);
    if (store.unusable)
        return {};
    return asText(store.settings->value(keyPath(section, key)));
}

void SaveSetting(const QString &app, const QString &section, const QString &key, const QString &value) {
    Store &store = storeFor(app);
    if (store.unusable)
        write(store);
    QDir().mkpath(QFileInfo(store.settings->fileName()).absolutePath());
    store.settings->setValue(keyPath(section, key), value);
    store.settings->sync();
}

QVector<QPair<QString, QString>> GetAllSettings(const QString &app, const QString &section) {
    QVector<QPair<QString, QString>> pairs;
    Store &store = storeFor(app);
    if (store.unusable)
        return pairs;
    QString s = section;
    s.replace('/', "%2F");
    store.settings->beginGroup(s);
    const QStringList keys = store.settings->childKeys();
    for (const QString &k : keys) {
        QString shown = k;
        shown.replace("%2F", "/");
        pairs.append({shown, asText(store.settings->value(k))});
    }
    store.settings->endGroup();
    return pairs;
}

void DeleteSetting(const QString &app, const QString &section, const QString &key) {
    Store &store = storeFor(app);
    if (store.unusable)
        return;
    store.settings->remove(keyPath(section, key));
    store.settings->sync();
}
