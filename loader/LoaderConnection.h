#pragma once

#include <QByteArray>
#include <QString>

typedef struct st_mysql MYSQL;

namespace velmar {

struct LoadTarget;

// Whether a client or server error means the connection is gone.
bool connectionLost(unsigned error);

// One client-library connection of the loader: opened on the target database, closed with the
// object. Used by one thread at a time, except abort(), which another thread may call.
class LoaderConnection {
public:
    LoaderConnection();
    ~LoaderConnection();
    LoaderConnection(const LoaderConnection &) = delete;
    LoaderConnection &operator=(const LoaderConnection &) = delete;

    // readTimeout bounds each wait for the server's answer (seconds).
    bool open(const LoadTarget &target, unsigned readTimeout, unsigned writeTimeout);
    // Sends sql and drains every result it gives; false on the first error.
    bool exec(const QByteArray &sql);
    // Runs a LOAD DATA LOCAL INFILE statement that reads data (and no file). True only when the
    // server took all `rows` rows with no warning and none skipped; false with errorNumber() 0
    // when it answered but not so.
    bool loadData(const QByteArray &statement, const QByteArray &data, qint64 rows);
    // Sets a variable for this session alone ("name = value"): false, and the session as it was,
    // when the server refuses it (no such variable on this server, global only, read only).
    bool setSession(const QByteArray &assignment);
    // The first column of the first row of a one-row query; "" when there is none.
    QByteArray value(const QByteArray &sql, bool *ok = nullptr);
    bool inTransaction() const;
    unsigned long threadId() const;
    unsigned long serverVersion() const;
    // Makes a read or write blocked in another thread fail at once.
    void abort();

    unsigned errorNumber() const;
    // "ERROR 1064 (42000): text" (" at line N" when line > 0), the client's shape.
    QString errorText(qint64 line = 0) const;

private:
    static int infileInit(void **state, const char *name, void *self);
    static int infileRead(void *state, char *buffer, unsigned length);
    static void infileEnd(void *state);
    static int infileError(void *state, char *message, unsigned length);

    MYSQL *m_mysql = nullptr;
    // What a LOAD DATA LOCAL INFILE reads: set only while loadData() runs, so a server asking
    // for a file at any other time gets none.
    const QByteArray *m_data = nullptr;
    qsizetype m_dataPos = 0;
};

}  // namespace velmar
