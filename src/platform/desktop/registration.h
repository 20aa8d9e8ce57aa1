#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Registration of the supported file types for the user, freedesktop style:
// a desktop entry made from the template next to the program, a MIME type
// for play-lists, the icon, and the user's default-application entries.

// The temporary folder, with its trailing "/".
QString TempPath();

// The MIME types the player opens; the last one is its play-lists'.
QStringList SupportedMimeTypes();
inline constexpr const char *kPlayListMime = "application/x-tunabel-playlist";
inline constexpr const char *kDesktopFile = "tunabel.desktop";

// The command the desktop is to run: the `tunabel` command beside the player
// (in the build folder or an installed bin folder) hands files to the
// running player; the player itself when there is none.
QString CommandToRegister(const QString &playerPath);

// The template's text: the file "tunabel.desktop.in" next to the program,
// or the copy built into it. "" when neither can be read.
QString DesktopTemplate(const QString &programFolder);

// A path as one argument of a desktop entry's Exec key: quoted when it holds
// a reserved character, "%" doubled, then escaped as a string value.
QString DesktopExecArgument(const QString &path);
// The program of an Exec key. GLib checks the first word of Exec as it is
// written, "%%" and all, so a path holding "%" is started through env.
QString DesktopExecProgram(const QString &path);
// A path as a plain string value (TryExec and the like).
QString DesktopStringValue(const QString &path);
// The template with each "#" replaced by the program's path, quoted for the
// key of its line. Comment lines are copied unchanged.
QString FillDesktopTemplate(const QString &text, const QString &programPath);

// mimeapps.list with `desktopFile` as the default application of `types`;
// every other line of the file is kept as it was.
QByteArray MergeDefaultApplications(const QByteArray &existing, const QStringList &types,
                                    const QString &desktopFile);

// Writes everything for the user (XDG data and config folders) and starts
// the refresh of the user's MIME and desktop databases where the tools are
// installed. Returns "" on success, else what went wrong, in French.
QString RegisterFileTypes(const QString &programPath, const QString &templateText);
