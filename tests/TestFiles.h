#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTest>

namespace velmar::test {

// The whole content of a file, or "<absent>" when it cannot be read.
inline QByteArray fileContent(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<absent>");
}

// Writes a file for a test (fails the test when it cannot); executable for stand-in programs.
inline void writeFile(const QString &path, const QByteArray &content, bool executable = false)
{
    QFile f(path);
    QVERIFY2(f.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    f.write(content);
    f.close();
    if (executable)
        QVERIFY(f.setPermissions(f.permissions() | QFile::ExeOwner | QFile::ExeUser));
}

}  // namespace velmar::test
