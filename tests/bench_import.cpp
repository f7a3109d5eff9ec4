// Times the import of a generated dump: the mysql client against velmar's loader with 1 to 4
// connections, with the loader's peak memory. Needs a server the client library and the client
// programs reach through the environment (scripts/bench-import starts a throwaway one).
//
//   bench_import [--size MB] [--dir DIR] [--connections 1,2,3,4] [--password P]
//                [--session-sql "SET SESSION sql_log_bin=0"] [--keep yes]
#include "SqlLoader.h"
#include "ProcessMemory.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <mysql.h>

#include <cstdio>
#include <memory>

using velmar::test::peakResidentKiB;
using velmar::test::residentKiB;

namespace {

QString g_password = QStringLiteral("wexrolp");

void resetPeak()
{
    QFile f(QStringLiteral("/proc/self/clear_refs"));
    if (f.open(QIODevice::WriteOnly))
        f.write("5");
}

[[noreturn]] void die(const QString &what)
{
    std::fprintf(stderr, "bench_import: %s\n", qPrintable(what));
    std::exit(1);
}

// Runs statements as root; returns the rows of the last one, each row's values joined by tabs.
QStringList sql(const QString &text)
{
    std::unique_ptr<MYSQL, decltype(&mysql_close)> c(mysql_init(nullptr), &mysql_close);
    mysql_options(c.get(), MYSQL_SET_CHARSET_NAME, "utf8mb4");
    const QByteArray password = g_password.toUtf8();
    if (!mysql_real_connect(c.get(), "localhost", "root", password.constData(), nullptr, 0, nullptr,
                            CLIENT_MULTI_STATEMENTS))
        die(QString::fromUtf8(mysql_error(c.get())));
    const QByteArray q = text.toUtf8();
    if (mysql_real_query(c.get(), q.constData(), q.size()) != 0)
        die(QString::fromUtf8(mysql_error(c.get())));
    QStringList rows;
    do {
        MYSQL_RES *r = mysql_store_result(c.get());
        if (!r) {
            if (mysql_errno(c.get()))
                die(QString::fromUtf8(mysql_error(c.get())));
            continue;
        }
        rows.clear();
        const unsigned n = mysql_num_fields(r);
        while (MYSQL_ROW row = mysql_fetch_row(r)) {
            QStringList values;
            for (unsigned i = 0; i < n; ++i)
                values << QString::fromUtf8(row[i] ? row[i] : "NULL");
            rows << values.join(u'\t');
        }
        mysql_free_result(r);
    } while (mysql_next_result(c.get()) == 0);
    if (mysql_errno(c.get()))
        die(QString::fromUtf8(mysql_error(c.get())));
    return rows;
}

QString program(const QStringList &names)
{
    for (const QString &n : names) {
        const QString found = QStandardPaths::findExecutable(n);
        if (!found.isEmpty())
            return found;
    }
    die(QStringLiteral("none of %1 found").arg(names.join(u' ')));
}

void run(const QStringList &names, const QStringList &args, const QString &in, const QString &out)
{
    QProcess p;
    if (!in.isEmpty())
        p.setStandardInputFile(in);
    if (!out.isEmpty())
        p.setStandardOutputFile(out);
    p.start(program(names), QStringList{QStringLiteral("--user=root"), QStringLiteral("--password=") + g_password} + args);
    if (!p.waitForStarted(30000) || !p.waitForFinished(-1) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        die(names.first() + QStringLiteral(" failed: ") + QString::fromUtf8(p.readAllStandardError()));
}

void recreate(const QString &db)
{
    sql(QStringLiteral("DROP DATABASE IF EXISTS `%1`; CREATE DATABASE `%1`").arg(db));
}

QString checksums(const QString &db)
{
    QStringList sums;
    for (const QString &row : sql(QStringLiteral("CHECKSUM TABLE `%1`.customer, `%1`.orders, `%1`.order_item").arg(db)))
        sums << row.section(u'\t', 1);
    return sums.join(u',');
}

// Waits (at most 60 s) until the server has written out the pages of earlier work, so that one
// run does not pay for the one before it.
void settle()
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 60000) {
        const QStringList r = sql(QStringLiteral("SHOW GLOBAL STATUS LIKE 'Innodb_buffer_pool_pages_dirty'"));
        if (r.value(0).section(u'\t', 1).toLongLong() < 50)
            return;
        QThread::msleep(500);
    }
}

double clientImport(const QString &wrapped)
{
    recreate(QStringLiteral("bdst"));
    settle();
    QElapsedTimer t;
    t.start();
    run({QStringLiteral("mysql"), QStringLiteral("mariadb")}, {QStringLiteral("--database=bdst")}, wrapped, QString());
    return t.elapsed() / 1000.0;
}

// Three tables with foreign keys and Korean text, about `mib` MiB once dumped.
void generate(int mib)
{
    const qint64 customers = qint64(mib) * 1000;
    const qint64 orders = customers * 6;
    const qint64 items = customers * 13;
    recreate(QStringLiteral("bsrc"));
    sql(QStringLiteral(R"(USE bsrc;
CREATE TABLE customer (id INT PRIMARY KEY, name VARCHAR(40) NOT NULL, city VARCHAR(20), joined DATE,
  KEY (name)) DEFAULT CHARSET=utf8mb4;
CREATE TABLE orders (id INT PRIMARY KEY, customer_id INT NOT NULL, amount DECIMAL(10,2), note VARCHAR(60),
  FOREIGN KEY (customer_id) REFERENCES customer (id)) DEFAULT CHARSET=utf8mb4;
CREATE TABLE order_item (id INT AUTO_INCREMENT PRIMARY KEY, order_id INT NOT NULL, product VARCHAR(30),
  qty SMALLINT, memo VARCHAR(40), FOREIGN KEY (order_id) REFERENCES orders (id)) DEFAULT CHARSET=utf8mb4;
INSERT INTO customer SELECT seq, CONCAT('고객 ', seq, ' 김'), ELT(1 + seq % 4, '서울', '부산', '대구', 'Incheon'),
  '2020-01-01' + INTERVAL (seq % 1500) DAY FROM seq_1_to_%1;
INSERT INTO orders SELECT seq, 1 + seq % %1, (seq % 100000) / 7, IF(seq % 3 = 0, '빠른 배송 부탁합니다', NULL)
  FROM seq_1_to_%2;
INSERT INTO order_item (order_id, product, qty, memo) SELECT 1 + seq % %2, CONCAT('상품-', seq % 997), seq % 9,
  IF(seq % 2 = 0, '선물 포장', 'it''s "ok"\\n') FROM seq_1_to_%3;)")
            .arg(customers)
            .arg(orders)
            .arg(items));
}

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int mib = 100;
    QString base = QDir::tempPath();
    QList<int> counts{1, 2, 3, 4};
    QString sessionSql;
    bool keep = false;
    const QStringList a = app.arguments();
    for (int i = 1; i + 1 < a.size(); i += 2) {
        if (a[i] == QStringLiteral("--size"))
            mib = a[i + 1].toInt();
        else if (a[i] == QStringLiteral("--dir"))
            base = a[i + 1];
        else if (a[i] == QStringLiteral("--password"))
            g_password = a[i + 1];
        else if (a[i] == QStringLiteral("--keep"))
            keep = a[i + 1] == QStringLiteral("yes");
        else if (a[i] == QStringLiteral("--session-sql"))
            sessionSql = a[i + 1];
        else if (a[i] == QStringLiteral("--connections")) {
            counts.clear();
            for (const QString &n : a[i + 1].split(u','))
                counts << n.toInt();
        } else
            die(QStringLiteral("unknown option ") + a[i]);
    }
    QTemporaryDir dir(base + QStringLiteral("/bench-import-XXXXXX"));
    if (!dir.isValid())
        die(QStringLiteral("no work folder"));
    dir.setAutoRemove(!keep);

    QElapsedTimer t;
    t.start();
    generate(mib);
    std::printf("generated %d MiB of rows in %.1f s\n", mib, t.elapsed() / 1000.0);
    const QString dump = dir.filePath(QStringLiteral("bsrc.sql"));
    run({QStringLiteral("mysqldump"), QStringLiteral("mariadb-dump")}, {QStringLiteral("-q"), QStringLiteral("-e"), QStringLiteral("bsrc")},
        QString(), dump);
    // velmar's _2.sql: head + dump + tail, copied in blocks.
    const QString wrapped = dir.filePath(QStringLiteral("bsrc_2.sql"));
    {
        QFile in(dump), out(wrapped);
        if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly))
            die(QStringLiteral("cannot write ") + wrapped);
        QByteArray head("SET AUTOCOMMIT = 0;\r\nSET FOREIGN_KEY_CHECKS=0;\r\n");
        if (!sessionSql.isEmpty())
            head = sessionSql.toUtf8() + ";\n" + head;
        out.write(head);
        while (!in.atEnd())
            out.write(in.read(4 << 20));
        out.write("SET FOREIGN_KEY_CHECKS = 1;\r\nCOMMIT;\r\nSET AUTOCOMMIT = 1;\r\n");
    }
    QFile::remove(dump);
    const qint64 size = QFileInfo(wrapped).size();
    const QStringList rows = sql(QStringLiteral("SELECT (SELECT COUNT(*) FROM bsrc.customer) + (SELECT COUNT(*) FROM "
                                                "bsrc.orders) + (SELECT COUNT(*) FROM bsrc.order_item)"));
    std::printf("_2.sql: %.1f MiB, %s rows in 3 tables%s%s\n", size / 1048576.0, qPrintable(rows.value(0)),
                sessionSql.isEmpty() ? "" : ", session: ", qPrintable(sessionSql));
    const QString expected = checksums(QStringLiteral("bsrc"));

    // The client runs first and last; the ratio is against the mean of both.
    const long restingKiB = residentKiB();
    const double clientFirst = clientImport(wrapped);
    const bool clientSame = checksums(QStringLiteral("bdst")) == expected;
    QList<double> seconds;
    QList<long> peaks;
    QList<bool> same;
    for (int n : counts) {
        recreate(QStringLiteral("bdst"));
        settle();
        velmar::LoadTarget target;
        target.user = QStringLiteral("root");
        target.password = g_password;
        target.database = QStringLiteral("bdst");
        velmar::LoadOptions o;
        o.connections = n;
        resetPeak();
        t.restart();
        const velmar::LoadResult r = velmar::loadSqlFile(wrapped, target, o);
        seconds << t.elapsed() / 1000.0;
        peaks << peakResidentKiB();
        if (r.outcome != velmar::LoadResult::Outcome::Loaded)
            die(QStringLiteral("loader: ") + r.message);
        same << (checksums(QStringLiteral("bdst")) == expected);
    }
    const double clientLast = clientImport(wrapped);
    const double client = (clientFirst + clientLast) / 2;
    std::printf("%-24s %8s %8s %12s %s\n", "import", "seconds", "speedup", "peak KiB", "checksums");
    std::printf("%-24s %8.1f %8s %12s %s\n", "mysql < _2.sql (first)", clientFirst, "", "-", clientSame ? "same" : "DIFFERENT");
    std::printf("%-24s %8.1f %8s %12s %s\n", "mysql < _2.sql (last)", clientLast, "", "-",
                checksums(QStringLiteral("bdst")) == expected ? "same" : "DIFFERENT");
    for (int i = 0; i < counts.size(); ++i) {
        const int n = counts[i];
        std::printf("%-24s %8.1f %8.2f %12ld %s\n",
                    qPrintable(QStringLiteral("velmar, %1 connection%2").arg(n).arg(n > 1 ? "s" : "")), seconds[i],
                    client / seconds[i], peaks[i], same[i] ? "same" : "DIFFERENT");
    }
    std::printf("resident before the loads (the bench's own libraries): %ld KiB\n", restingKiB);
    std::printf("default connections here: %d\n", velmar::defaultImportConnections());
    if (keep)
        std::printf("kept %s and the databases bsrc, bdst\n", qPrintable(wrapped));
    else
        sql(QStringLiteral("DROP DATABASE bdst; DROP DATABASE bsrc"));
    return 0;
}
