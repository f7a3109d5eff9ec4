#pragma once

#include <QFileDevice>
#include <QString>

namespace velmar {

// The base of a dump file's name for a database name: the name itself when it is an ordinary
// file name on every platform, otherwise each character that is not ("/\:*?"<>|", control
// characters, the "@" of this encoding, a closing "." or blank, the first letter of a device
// name such as CON) written as "@" and four hex digits of its code. No name can leave the dump
// folder ("../x" becomes "..@002fx", ".." becomes "@002e@002e"), and two names never share a file.
QString dumpFileBaseName(const QString &dbName);

// Whether files can be made in folder, which is created when missing: tried, not read from the
// permissions (which say little on Windows, nor for an administrator).
bool canWriteFolder(const QString &folder);

// Where the dump files go when the program's folder cannot hold them (a program installed under
// Program Files): the user's local application data, e.g. %LOCALAPPDATA%\velmar\dump.
QString userDumpFolder();

// Puts from in the place of to in one step (an existing to is replaced). On Windows a file that is
// held for a moment is tried again for up to two seconds; error gets the system's reason.
bool replaceFile(const QString &from, const QString &to, QString *error);

// Removes path; true when it is gone (or was never there). On Windows a file that is held for a
// moment is tried again for up to two seconds, as for replaceFile.
bool removeFile(const QString &path);

// Makes an open file (or a QSaveFile's file in the making) readable and writable by its owner
// only: a dump holds the whole database. Where the platform has no such permissions it changes
// nothing that matters.
void restrictToOwner(QFileDevice &file);

}  // namespace velmar
