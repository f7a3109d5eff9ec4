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
    QCOMPARE(f.write(content), qint64(content.size()));
    f.close();
    if (executable)
        QVERIFY(f.setPermissions(f.permissions() | QFile::ExeOwner | QFile::ExeUser));
}

// An import file of one table with rows single-row INSERTs: large enough for a load to be
// caught while it runs.
inline void writeLongImport(const QString &path, int rows = 60000)
{
    QByteArray sql = "CREATE TABLE filler (id INT PRIMARY KEY, v VARCHAR(200));\n";
    for (int i = 0; i < rows; ++i)
        sql += "INSERT INTO filler VALUES (" + QByteArray::number(i) + ", '" + QByteArray(150, 'v') + "');\n";
    writeFile(path, sql);
}

}  // namespace velmar::test
