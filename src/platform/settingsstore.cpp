#include "platform/settingsstore.h"

#include "platform/filename.h"
#include "storage/rename.h"
#include "storage/temporaries.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include <cerrno>
#include <fcntl.h>
#include <map>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString &settingsFolder() {
    static QString folder;
    return folder;
}

struct Failure {
    std::function<void(const QString &)> handler;
    bool told = false;
};

Failure &failure() {
    static Failure f;
    return f;
}

struct Store {
    std::unique_ptr<QSettings> settings;
    bool damaged = false; // the file on disk could not be read or parsed
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
        store.damaged = store.settings->status() != QSettings::NoError;
    }
    return store;
}

bool isFolder(const QByteArray &path) {
    struct stat st {};
    return ::stat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Why nothing can be written at `path`, as far as the file system tells.
QString whyNotWritable(const QString &path) {
    const QByteArray file = EncodeFileName(path);
    const QByteArray folder = EncodeFileName(QFileInfo(path).absolutePath());
    struct stat st {};
    if (isFolder(file))
        return QStringLiteral("un dossier porte ce nom");
    if (!isFolder(folder))
        return QStringLiteral("son dossier n'a pas pu être créé");
    if (::lstat(file.constData(), &st) == 0 && ::access(file.constData(), W_OK) != 0)
        return S_ISLNK(st.st_mode) ? QStringLiteral("c'est un lien vers un fichier protégé en écriture")
                                   : QStringLiteral("le fichier est protégé en écriture");
    if (::access(folder.constData(), W_OK) != 0)
        return QStringLiteral("son dossier est protégé en écriture");
    return QStringLiteral("l'écriture a échoué (disque plein ?)");
}

void tell(const QString &path) {
    Failure &f = failure();
    if (f.told || !f.handler)
        return;
    f.told = true;
    f.handler(QStringLiteral("Les réglages ne peuvent pas être enregistrés dans « %1 » : %2. Les changements "
                             "faits pendant cette session seront perdus à la fermeture.")
                  .arg(DisplayFileName(path), whyNotWritable(path)));
}

// Moves a damaged file out of the way under a name no earlier copy has.
// Never a folder: its contents are not ours.
bool keepAside(const QString &path) {
    const QByteArray from = EncodeFileName(path);
    if (isFolder(from))
        return false;
    for (int n = 1; n <= 1000; ++n) {
        const QByteArray to = from + ".illisible" + (n > 1 ? "-" + QByteArray::number(n) : QByteArray());
        const int err = RenameNoReplace(from, to);
        if (err == 0)
            return true;
        if (err == ENOENT)
            return true; // gone already: nothing to keep
        if (err != EEXIST)
            return false;
    }
    return false;
}

// The store, ready to take a change; false when a damaged file could not be
// kept aside (it is never overwritten).
bool writable(Store &store) {
    if (!store.damaged)
        return true;
    const QString path = store.settings->fileName();
    if (!keepAside(path))
        return false;
    store.settings = std::make_unique<QSettings>(path, QSettings::IniFormat);
    store.damaged = false;
    return true;
}

void sync(Store &store) {
    QDir().mkpath(QFileInfo(store.settings->fileName()).absolutePath());
    store.settings->sync();
    if (store.settings->status() != QSettings::NoError)
        tell(store.settings->fileName());
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
    failure().told = false;
}

void SetSettingsFailureHandler(std::function<void(const QString &)> handler) {
    failure().handler = std::move(handler);
}

void RemoveStaleSettingsSaves(const QString &app) {
    const QFileInfo file(SettingsFilePath(app));
    // QSaveFile's temporaries: the file's name, a dot and six characters.
    RemoveStaleTemporaries(file.absolutePath(), EncodeFileName(file.fileName() + '.'));
}

QString GetSetting(const QString &app, const QString &section, const QString &key) {
    Store &store = storeFor(app);
    if (store.damaged)
        return {};
    return asText(store.settings->value(keyPath(section, key)));
}

void SaveSetting(const QString &app, const QString &section, const QString &key, const QString &value) {
    Store &store = storeFor(app);
    if (!writable(store)) {
        tell(store.settings->fileName());
        return;
    }
    store.settings->setValue(keyPath(section, key), value);
    sync(store);
}

QVector<QPair<QString, QString>> GetAllSettings(const QString &app, const QString &section) {
    QVector<QPair<QString, QString>> pairs;
    Store &store = storeFor(app);
    if (store.damaged)
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
    if (store.damaged)
        return;
    store.settings->remove(keyPath(section, key));
    sync(store);
}
