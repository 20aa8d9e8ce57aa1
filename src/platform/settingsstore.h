#pragma once

#include <QPair>
#include <QString>
#include <QVector>

#include <functional>

// The per-user settings store: application -> section -> key -> string.
// A key never written reads as "". Every write reaches the disk before the
// call returns. A file that cannot be read or parsed reads as empty; a
// damaged file is kept aside, each under a name of its own
// (<file>.illisible, then <file>.illisible-2, ...), before the first write.
QString GetSetting(const QString &app, const QString &section, const QString &key);
void SaveSetting(const QString &app, const QString &section, const QString &key, const QString &value);
QVector<QPair<QString, QString>> GetAllSettings(const QString &app, const QString &section);
void DeleteSetting(const QString &app, const QString &section, const QString &key);

// Told, once per run, when a change cannot reach the disk (a read-only
// folder, a file or link the user cannot write, a folder in the file's
// place): a French sentence naming the file and why.
void SetSettingsFailureHandler(std::function<void(const QString &why)> handler);

// Where the store of an application lives (~/.config/<app>/<app>.ini).
QString SettingsFilePath(const QString &app);
// Points every application's store at one folder; tests use a temporary one.
// The failure is told again after this.
void SetSettingsFolder(const QString &folder);
// Removes the temporaries that killed writes of the store left beside its
// file (RemoveStaleTemporaries).
void RemoveStaleSettingsSaves(const QString &app);
