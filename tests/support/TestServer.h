#pragma once

#include <QString>
#include <QStringList>

typedef struct st_mysql MYSQL;

namespace velmar::test {

// The throwaway MariaDB server that CTest starts for the tests (fixture "mariadb", script
// tests/server/testserver). Root's password is "wexrolp".
class TestServer {
public:
    static constexpr const char *rootPassword = "wexrolp";

    // The server's folder (from VELMAR_TEST_SERVER_DIR); empty when the test runs without one.
    static QString dir();
    static bool available();
    static QString socket();
    static int port();

    // Points the client library (MYSQL_UNIX_PORT) and the client programs (MYSQL_HOME) at the
    // test server. Call once before connecting.
    static void exportEnvironment();

    // Connects a client-library record: over the socket here; on Windows, where "localhost" means
    // TCP port 3306, over TCP to 127.0.0.1 and the server's port.
    static bool connect(MYSQL *m, const QByteArray &user, const QByteArray &password,
                        const QByteArray &db = QByteArray(), unsigned long flags = 0);

    // What "localhost" is to the client library and the server: the socket, which the server
    // names localhost, here; TCP port 3306 on Windows (where the Windows tests run the test
    // server), which the server names by the peer address 127.0.0.1.
    static QString localAccountHost();
    static QString localHostInfo();  // the library's get_host_info for "localhost"

    // Plain client-library access as root, independent of the code under test.
    // exec returns the error text ("" on success); rows gives each row's values joined by "\t".
    static QString exec(const QString &sql);
    static QStringList rows(const QString &sql);
    static QString value(const QString &sql);  // first column of the first row, "" if none
};

}  // namespace velmar::test

// Skips the current QtTest function when the test runs by hand without a test server; under
// CTest (which names the server's folder) a server that is not there fails the test instead of
// letting it pass unseen.
#define VELMAR_REQUIRE_SERVER()                                                          \
    do {                                                                                 \
        if (velmar::test::TestServer::dir().isEmpty())                                   \
            QSKIP("no test server (run through ctest)");                                 \
        if (!velmar::test::TestServer::available())                                      \
            QFAIL("the test server is not running");                                     \
    } while (false)
