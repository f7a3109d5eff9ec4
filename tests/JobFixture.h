#pragma once

#include "CopyJob.h"

#include <QMap>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>

namespace velmar::test {

// What a copy run by JobFixture::run ended with.
struct CopyOutcome {
    bool copied = false;
    QStringList log;      // without the load's timings, which differ from run to run
    QStringList figures;  // those: "가져오기 시간: ..." lines
    QStringList messages;
};

// Databases and folders for copies against the test server.
struct JobFixture {
    // Creates (anew) a source database: customers and orders with a foreign key between them,
    // Korean text, NULLs, blank-padded values, binary data, a few thousand rows.
    static void createSourceDatabase(const QString &name, int customers = 300);
    static void dropDatabase(const QString &name);
    static bool databaseExists(const QString &name);
    // CHECKSUM TABLE of every table, by table name; empty when the database is missing.
    static QMap<QString, QString> checksums(const QString &database);
    // Row counts of every table, by table name.
    static QMap<QString, qint64> rowCounts(const QString &database);
    // Whether user/password can log in and read the database.
    static bool canUse(const QString &user, const QString &password, const QString &database);
    static void dropUser(const QString &user);
    static QString quoteName(const QString &name);  // `name` with backticks doubled

    // A request for a copy from the test server onto itself, working in folder.
    static CopyRequest request(const QString &folder, const QString &prefix, const QString &user,
                               const QString &newDB);
    // Runs a copy, answering Yes to every question; hook sees the job first.
    static CopyOutcome run(const CopyRequest &r, const std::function<void(CopyJob &)> &hook = {});
    // Every definition, checksum and AUTO_INCREMENT of a database, its character set and its
    // foreign keys, one "what<TAB>text" line each, with the database's own name written "<db>".
    static QStringList snapshot(const QString &db);
    // Runs statements on the test server; an error fails the test.
    static void exec(const QString &sql);
};

}  // namespace velmar::test
