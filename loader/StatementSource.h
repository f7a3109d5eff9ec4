#pragma once

#include "SqlLoader.h"
#include "SqlStatementReader.h"

#include <QByteArray>
#include <QSet>
#include <QString>

#include <atomic>
#include <memory>
#include <mutex>

class QIODevice;

namespace velmar::load {

class LoadStop;

// The file of a load, read from its start; a file still being written is followed, and a reader
// waiting for its rest gives up with the load. Null, with why, when it does not open.
std::unique_ptr<QIODevice> openLoadFile(const QString &path, const LoadOptions &options, const LoadStop &stop,
                                        QString *error);

// The rows of one table read a second time, from the statement where they begin, by a reader of
// their own: two connections take them in turn while the main reading passes over them.
class TableRows {
public:
    TableRows(const QString &path, std::unique_ptr<QIODevice> file, const QByteArray &table,
              qint64 maxPacket);
    ~TableRows();

    const QString &path() const { return m_path; }
    const QByteArray &table() const { return m_table; }
    bool exhausted() const { return m_exhausted; }
    // The next of the rows and the file bytes it stands for; false from the first statement that
    // is not one of them (one over max_allowed_packet is left to the main reading, which reports
    // it) or at a read error (readError then says it, as on every call after).
    bool take(SqlStatement &s, qint64 &bytes, QString &readError);

private:
    friend class StatementSource;

    QString m_path;
    QByteArray m_table;
    qint64 m_maxPacket;
    std::mutex m_lock;  // the reader and position: one connection converts while the other loads
    std::unique_ptr<QIODevice> m_file;
    std::unique_ptr<SqlStatementReader> m_reader;
    qint64 m_position = 0;  // the end of the last statement taken
    std::atomic_bool m_exhausted{false};
};

// The deferred keys of the last table created, held back until its rows are in.
struct HeldKeys {
    QByteArray text;         // "ALTER TABLE `t` ADD ..., ADD ..."; "" when none wait
    QByteArray foreignKeys;  // the same for its foreign keys, built after the keys
    QByteArray table;
    qint64 line = 0;  // its CREATE TABLE's
};

// The statements of the file as the dispatcher takes them, and what the reading learns of each
// table on the way: its engine, an AUTO_INCREMENT column, the keys split off its CREATE TABLE.
class StatementSource {
public:
    StatementSource(const QString &path, const LoadTarget &target, const LoadOptions &options,
                    const LoadStop &stop);
    ~StatementSource();

    bool open(QString *error);
    // The server's version decides how executable comments classify; its default engine, which
    // tables are transactional.
    void setServer(unsigned long version, const QByteArray &defaultEngine);
    bool next(SqlStatement &s);
    QString error() const { return m_reader->error(); }
    // How long the reading waited for a file still being written.
    qint64 waitedMs() const;
    const QString &path() const { return m_path; }
    // The file's size; -1 while a growing file is still being written.
    qint64 total() const;
    // Why the client must load the file from s on, if it must.
    QString clientCommand(const SqlStatement &s) const;

    // Whether the held keys go before s. Notes when their table's rows begin: a setting after
    // that no longer waits for them.
    bool keysDue(const SqlStatement &s);
    // Learns s's table from its CREATE or DROP; with deferKeys its secondary keys are split off
    // and held.
    void learnTable(SqlStatement &s, bool deferKeys);
    // Whether s is not sent at all: a table lock, a USE, one the filter refuses, mysqldump's
    // keys switch of an InnoDB table.
    bool passedOver(const SqlStatement &s) const;
    bool transactional(const QByteArray &table) const { return m_transactional.contains(table); }
    bool autoIncrement(const QByteArray &table) const { return m_autoIncrement.contains(table); }
    bool keysHeld() const { return !m_keys.text.isEmpty() || !m_keys.foreignKeys.isEmpty(); }
    HeldKeys takeKeys();

    // s's table's rows from s on, read again by a reader of their own; null unless the reading
    // here can say where s starts and the file opens there again.
    std::unique_ptr<TableRows> rowsFrom(const SqlStatement &s, qint64 maxPacket) const;

private:
    bool accepted(const SqlStatement &s) const { return !m_options.filter || m_options.filter(s); }

    QString m_path;
    QString m_database;
    const LoadOptions &m_options;
    const LoadStop &m_stop;
    std::unique_ptr<QIODevice> m_file;
    qint64 m_size = 0;
    std::unique_ptr<SqlStatementReader> m_reader;
    unsigned long m_serverVersion = SqlStatementReader::kAnyServer;
    QByteArray m_defaultEngine;
    QSet<QByteArray> m_transactional;
    QSet<QByteArray> m_autoIncrement;
    QByteArray m_lastCreated;
    HeldKeys m_keys;
    bool m_keysRowsBegun = false;
};

}  // namespace velmar::load
