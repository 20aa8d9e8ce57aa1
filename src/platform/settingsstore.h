#pragma once

#include <QPair>
#include <QString>
#include <QVector>

// The per-user settings store: application -> section -> key -> string.
// A key never written reads as "". Every write reaches the disk before the
// call returns. A file that cannot be read or parsed reads as empty.
QString GetSetting(const QString &app, const QString &section, const QString &key);
void SaveSetting(const QString &app, const QString &section, const QString &key, const QString &value);
QVector<QPair<QString, QString>> GetAllSettings(const QString &app, const QString &section);
void DeleteSetting(const QString &app, const QString &section, const QString &key);

// Where the store of an application lives (~/.config/<app>/<app>.ini).
QString SettingsFilePath(const QString &app);
// Points every application's store at one folder; tests use a temporary one.
void SetSettingsFolder(const QString &folder);
