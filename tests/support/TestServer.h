#pragma once

#include <QString>
#include <QStringList>

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

    // Plain client-library access as root over the socket, independent of the code under test.
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
