#pragma once

#include "Recordset.h"
#include "cMySQL.h"

#include <QString>

#include <atomic>
#include <memory>
#include <optional>

namespace velmar {

// One shared connection for the copy job: open it, run statements, read rows, drop a database,
// close it. Each stage opens and closes its own; at most one client-library connection at a time.
// Without a shared connection, ExecuteSQL, OpenRecordset, DropDatabase and DBClose raise
// RaisedError 91 "Object variable or With block variable not set".

// cancel, when given, is the caller's stop flag: once it is set no connect starts (see
// CancelSharedConnection for one that has started).
bool DBInit(const QString &host, const QString &user, const QString &password, const QString &database,
            const std::atomic_bool *cancel = nullptr);
void DBClose();
// Gives up the shared connection from any thread, without waiting: a call waiting on the server
// returns at once and no later statement runs, without a message. The connection stays until its
// owner closes it. The caller sets the flag it gave DBInit first.
void CancelSharedConnection();
// Runs a statement; the affected-row count (rows returned for a SELECT), -1 after a failure.
qint32 ExecuteSQL(const QString &statement);
// Runs a statement; rs receives its rows (nullptr when it gave none or failed). Returns the
// affected-row count.
qint32 OpenRecordset(std::unique_ptr<Recordset> &rs, const QString &statement);
void CloseRecordset(std::unique_ptr<Recordset> &rs);
// Drops a database, its name quoted as an identifier, with foreign-key checks off around it.
void DropDatabase(const QString &name);

// The shared connection for one scope: opened with DBInit, closed on every way out of the scope
// (return or error) when it is still open.
class SharedConnection {
public:
    SharedConnection(const QString &host, const QString &user, const QString &password,
                     const QString &database, const std::atomic_bool *cancel = nullptr);
    ~SharedConnection();
    SharedConnection(const SharedConnection &) = delete;
    SharedConnection &operator=(const SharedConnection &) = delete;

    // Whether DBInit succeeded (it has told the user why not).
    explicit operator bool() const { return m_open; }

private:
    bool m_open;
};

// The version of the record sets that DBInit checks (2.0 or later passes): Recordset::version(),
// or the text set with setMDACVersionForTesting.
QString GetMDACVersion();
// Reads a value under HKEY_LOCAL_MACHINE into buffer (its length is the room there is); true when
// read. Without a registry (anything but Windows) nothing is read and the result is false.
bool ReadRegistryString(const QString &keyPath, const QString &valueName, QString &buffer);

// The shared connection, or nullptr (for tests and diagnostics).
cMySQL *sharedConnection();

// Replaces the version text that GetMDACVersion reports (tests reach the "MDAC누락" path with it);
// std::nullopt restores the built-in one.
void setMDACVersionForTesting(std::optional<QString> version);

// SQL quoting shared by the copy job.
QString quoteIdentifier(const QString &name);          // `name`, a backtick inside doubled
// \ _ % escaped, so that a LIKE pattern or the database of a GRANT matches this one name only.
QString escapeLikePattern(const QString &name);
QString quoteString(const QString &text);              // '...' with the library's escaping

}  // namespace velmar
