#pragma once

#include "RaisedError.h"
#include "Recordset.h"

#include <QString>
#include <QVariant>

#include <memory>

typedef struct st_mysql MYSQL;
typedef struct st_mysql_res MYSQL_RES;

namespace velmar {

// One connection of the MySQL C client library, with the library's calls as operations of the
// same names (without "mysql_"). Text crosses the library boundary as UTF-8 over a utf8mb4
// connection. Failures are reported in one of three ways fixed per operation: shown in a message
// box by the operation (real_connect, query), raised to the caller as RaisedError, or not at all.
//
// A host text of the form name:port (or [v6address]:port) reaches that port over TCP; the stored
// host keeps the whole text, so a reconnect reaches the same server.
class cMySQL {
public:
    cMySQL();  // raises 512 "Cannot Initialize a mysql record::Fatal" from "cMysql::Initialize"
    ~cMySQL();
    cMySQL(const cMySQL &) = delete;
    cMySQL &operator=(const cMySQL &) = delete;

    // 1..32, in the interface order of the class.
    bool real_connect(const QString &host, const QString &user, const QString &passwd,
                      const QString &db, qint32 port, const QString &unix_socket,
                      qint32 clientflag, bool NoErrMsg);
    qint32 affected_rows();
    void create_db(const QString &db);
    void debug_push(const QString &DBUG_PUSH);
    void dump_debug_info();
    bool eof();
    qint32 err_no();
    QString err_description();
    void escape_string(QString &to_, const QString &from_, qint32 from_length);
    void free_result();
    QString get_client_info();
    QString get_host_info();
    QString get_proto_info();
    QVariant get_server_info();
    QString info();
    qint32 insert_id();
    void Kill(qint32 PID);
    std::unique_ptr<Recordset> list_dbs(const QString &wild);
    std::unique_ptr<Recordset> list_fields(const QString &table, const QString &wild);
    std::unique_ptr<Recordset> list_processes();
    std::unique_ptr<Recordset> list_tables(const QString &wild);
    qint32 num_fields();
    qint32 num_rows();
    void ping();
    std::unique_ptr<Recordset> query(const QString &SQL);
    std::unique_ptr<Recordset> real_query(const QString &query, qint32 Length);
    void Refresh(qint32 refresh_options);
    void select_db(const QString &db);
    void shutdown();
    QString stat();
    qint32 thread_id();
    qint32 thread_safe();

    // Makes a call that waits on the server in another thread return at once, and every later
    // call fail without a message: the connection is given up. Safe from any thread.
    void cancel();
    bool isCancelled() const;

    // The bounds of every wait on the server, in seconds. A connect (up to the server's first
    // answer) is short; a statement may legitimately run long (DROP DATABASE of a big database),
    // so reads and writes are bounded generously and a cancel ends them sooner.
    static constexpr unsigned kConnectTimeout = 10;
    static constexpr unsigned kReadWriteTimeout = 3600;

    // Stored properties: the setters store, the getters return, nothing else.
    void setUser(const QString &sUsername) { m_user = sUsername; }
    QString user() const { return m_user; }
    void setPassword(const QString &sPassword) { m_password = sPassword; }
    QString password() const { return m_password; }
    void setHost(const QString &sHost) { m_host = sHost; }
    QString host() const { return m_host; }
    void setPort(qint32 sPort) { m_port = sPort; }
    qint32 port() const { return m_port; }
    void setDb(const QString &sDB) { m_db = sDB; }
    QString db() const { return m_db; }
    void setClientFlags(qint32 sClientFlags) { m_clientFlags = sClientFlags; }
    qint32 ClientFlags() const { return m_clientFlags; }
    void setUnix_socket(const QString &sUnix_socket) { m_unixSocket = sUnix_socket; }
    QString unix_socket() const { return m_unixSocket; }
    bool NoErrMsg() const { return m_noErrMsg; }

    // Library strings and counts as the class hands them out (public for their tests).
    static QString cstr_to_text(const char *p);
    static qint32 low_long(quint64 v);

    // Splits "name:port" and "[v6]:port" (port 1 to 65535); false, leaving name and port as they
    // were, for any other host text.
    static bool splitHostPort(const QString &hostText, QString &name, qint32 &port);

private:
    // The library's record, its current result and the RAII that releases both.
    struct Impl;
    std::unique_ptr<Impl> d;

    // The error of the last failed library call, from "cMysql::" + operation.
    RaisedError libraryError(const char *operation) const;
    // Raises libraryError(operation) when failed is true.
    void raiseIf(bool failed, const char *operation) const;
    // A getter's text: the library's string, or empty text when the library recorded no error.
    QString infoText(const char *text, const char *operation) const;
    // Makes r the current result and copies it into an open Recordset (r may be null: none).
    std::unique_ptr<Recordset> adoptResult(MYSQL_RES *r);
    std::unique_ptr<Recordset> result_to_recordset();

    QString m_user;
    QString m_password;
    QString m_host;
    QString m_db;
    QString m_unixSocket;
    qint32 m_clientFlags = 0;
    qint32 m_port = 0;
    bool m_noErrMsg = false;
};

}  // namespace velmar
