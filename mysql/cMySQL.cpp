#include "cMySQL.h"

#include "LibraryEscape.h"
#include "Messenger.h"
#include "ProgramInfo.h"
#include "modMySQL_Func_lite.h"

#include <QFileInfo>

#include <mysql.h>
#include <errmsg.h>

#include <QMutex>

#include <algorithm>
#include <atomic>
#include <optional>
#include <vector>

namespace velmar {

namespace {

constexpr qint32 errInitialize = 512;

struct CloseRecord {
    void operator()(MYSQL *m) const noexcept { mysql_close(m); }
};
struct FreeResult {
    void operator()(MYSQL_RES *r) const noexcept { mysql_free_result(r); }
};

MYSQL *newRecord()
{
    MYSQL *m = mysql_init(nullptr);
    if (!m)
        throw RaisedError(errInitialize, QStringLiteral("cMysql::Initialize"),
                          QStringLiteral("Cannot Initialize a mysql record::Fatal"));
    return m;
}

// The library takes an empty text literally (an empty socket name fails), so empty means "none".
const char *orNull(const QByteArray &text)
{
    return text.isEmpty() ? nullptr : text.constData();
}

// A caller's byte length, kept within the text it describes.
unsigned long byteLength(qint32 length, const QByteArray &text)
{
    return static_cast<unsigned long>(std::clamp<qsizetype>(length, 0, text.size()));
}

// where: the server as the user knows it, with the port whenever one was dialled.
QString connectExplanation(qint32 number, const QString &where)
{
    QString text = QStringLiteral("데이터베이스 서버(") + where + QStringLiteral(")에 접속할 수 없습니다.");
    // This library reports an unreachable server as 2002 (also over TCP), older ones as 2003; a
    // server that accepts the connection and never answers ends in 2013.
    if (number == CR_CONN_HOST_ERROR || number == CR_CONNECTION_ERROR || number == CR_SERVER_LOST) {
        text += QStringLiteral("\r\n\r\n인터넷이 연결되어 있는지 확인 해 주세요.\r\n\r\n"
                               "인터넷이 연결되어 있다면 방화벽이나 각종 스파이웨어 차단 프로그램이 가동중인지 확인해 주세요.\r\n"
                               "관련 프로그램이 데이터베이스 접속을 방해하는 경우 일 수도 있습니다.");
    }
    return text;
}

// The Windows package carries the library's plugins (authentication methods such as MySQL 8's
// caching_sha2_password) in plugin\ beside the program; the library would look in the folder it
// was built for.
void usePackagedPlugins(MYSQL *m)
{
#ifdef Q_OS_WIN
    const QString folder = programFolder() + QStringLiteral("\\plugin");
    if (QFileInfo(folder).isDir())
        // The library opens plugin files by ANSI name on Windows.
        mysql_optionsv(m, MYSQL_PLUGIN_DIR, folder.toLocal8Bit().constData());
#else
    Q_UNUSED(m);
#endif
}

}  // namespace

QString libraryEscape(const QString &from, qint32 fromLength)
{
    // Escaping works without a connection, but not before the library has set itself up.
    static const bool ready = mysql_library_init(0, nullptr, nullptr) == 0;
    Q_UNUSED(ready);
    const QByteArray bytes = from.toUtf8();
    const unsigned long length = byteLength(fromLength, bytes);
    QByteArray out(qsizetype(2 * length + 1), '\0');
    const unsigned long written = mysql_escape_string(out.data(), bytes.constData(), length);
    return QString::fromUtf8(out.constData(), qsizetype(written));
}

struct cMySQL::Impl {
    std::unique_ptr<MYSQL, CloseRecord> record{newRecord()};
    // A record carries one connect attempt (a connected record refuses a second one, a failed one
    // has dropped its options), so every later connect starts from a fresh record.
    bool used = false;
    // Declared after the record so that it is released first.
    std::unique_ptr<MYSQL_RES, FreeResult> result;
    // Set while the last statement failed: a record that a failed reconnect has replaced would
    // otherwise report a count of 0 for it.
    bool noCount = false;
    // Guards the record's replacement against a cancel from another thread.
    QMutex recordMutex;
    std::atomic_bool cancelled{false};

    void prepareConnect()
    {
        QMutexLocker lock(&recordMutex);
        if (used)
            record.reset(newRecord());
        used = true;
        MYSQL *m = record.get();
        const unsigned connectTimeout = kConnectTimeout;
        const unsigned readWriteTimeout = kReadWriteTimeout;
        mysql_options(m, MYSQL_OPT_CONNECT_TIMEOUT, &connectTimeout);
        mysql_options(m, MYSQL_OPT_READ_TIMEOUT, &readWriteTimeout);
        mysql_options(m, MYSQL_OPT_WRITE_TIMEOUT, &readWriteTimeout);
    }
};

void cMySQL::cancel()
{
    d->cancelled = true;
    // Never waits (a terminal's Ctrl+C may call this from a signal handler): while the record is
    // being replaced, the connect that follows sees the flag instead.
    if (!d->recordMutex.tryLock())
        return;
#ifdef MARIADB_PACKAGE_VERSION
    // Shuts the socket down: a read or write blocked on it returns with an error.
    mariadb_cancel(d->record.get());
#endif
    d->recordMutex.unlock();
}

bool cMySQL::isCancelled() const
{
    return d->cancelled.load();
}

cMySQL::cMySQL() : d(std::make_unique<Impl>())
{
    m_noErrMsg = false;
}

cMySQL::~cMySQL() = default;

RaisedError cMySQL::libraryError(const char *operation) const
{
    MYSQL *m = d->record.get();
    return RaisedError(qint32(mysql_errno(m)), QStringLiteral("cMysql::") + QLatin1String(operation),
                       cstr_to_text(mysql_error(m)));
}

void cMySQL::raiseIf(bool failed, const char *operation) const
{
    if (failed)
        throw libraryError(operation);
}

QString cMySQL::infoText(const char *text, const char *operation) const
{
    // Without a recorded error there is nothing to report: before any connect, or info after a
    // statement that leaves no information.
    raiseIf(!text && mysql_errno(d->record.get()) != 0, operation);
    return cstr_to_text(text);
}

bool cMySQL::real_connect(const QString &host, const QString &user, const QString &passwd,
                          const QString &db, qint32 port, const QString &unix_socket,
                          qint32 clientflag, bool NoErrMsg)
{
    if (!host.isEmpty())
        m_host = host;
    if (!user.isEmpty())
        m_user = user;
    if (!passwd.isEmpty())
        m_password = passwd;
    if (!db.isEmpty())
        m_db = db;
    if (!unix_socket.isEmpty())
        m_unixSocket = unix_socket;
    if (port != 3306)
        m_port = port;
    if (clientflag != 0)
        m_clientFlags = clientflag;
    m_noErrMsg = NoErrMsg;

    d->prepareConnect();
    if (isCancelled())
        return false;
    MYSQL *m = d->record.get();
    QString hostName = m_host;
    qint32 connectPort = port;
    if (splitHostPort(m_host, hostName, connectPort)) {
        const unsigned protocol = MYSQL_PROTOCOL_TCP;
        mysql_options(m, MYSQL_OPT_PROTOCOL, &protocol);
    }
    mysql_options(m, MYSQL_SET_CHARSET_NAME, "utf8mb4");
    usePackagedPlugins(m);

    const QByteArray hostBytes = hostName.toUtf8();
    const QByteArray userBytes = m_user.toUtf8();
    const QByteArray passwordBytes = m_password.toUtf8();
    const QByteArray dbBytes = m_db.toUtf8();
    const QByteArray socketBytes = m_unixSocket.toUtf8();
    if (mysql_real_connect(m, orNull(hostBytes), orNull(userBytes), orNull(passwordBytes),
                           orNull(dbBytes), unsigned(connectPort), orNull(socketBytes),
                           static_cast<unsigned long>(quint32(m_clientFlags)))) {
        d->noCount = false;
        return true;
    }

    if (isCancelled())
        return false;  // given up by the user: nothing to tell
    const RaisedError e = libraryError("real_connect");
    // The library's text names the host without its port.
    QString where = hostName.isEmpty() ? QStringLiteral("localhost") : hostName;
    if (where.contains(u':'))
        where = u'[' + where + u']';
    if (connectPort != 0 && (m_host != hostName || where != QStringLiteral("localhost")))
        where += u':' + QString::number(connectPort);
    const QString description
        = e.Description + QStringLiteral("\r\n\r\n") + connectExplanation(e.Number, where);
    if (!m_noErrMsg)
        msgBox(QStringLiteral("Error ") + QString::number(e.Number) + u' ' + description);
    return false;
}

qint32 cMySQL::affected_rows()
{
    return d->noCount ? -1 : low_long(mysql_affected_rows(d->record.get()));
}

void cMySQL::create_db(const QString &db)
{
    // The library has no call of its own for this any more.
    const QByteArray sql = QString(QStringLiteral("CREATE DATABASE ") + quoteIdentifier(db)).toUtf8();
    raiseIf(mysql_real_query(d->record.get(), sql.constData(), sql.size()) != 0, "create_db");
}

void cMySQL::debug_push(const QString &DBUG_PUSH)
{
    mysql_debug(DBUG_PUSH.toUtf8().constData());
}

void cMySQL::dump_debug_info()
{
    raiseIf(mysql_dump_debug_info(d->record.get()) != 0, "dump_debug_info");
}

bool cMySQL::eof()
{
    return d->result && mysql_eof(d->result.get()) != 0;
}

qint32 cMySQL::err_no()
{
    return qint32(mysql_errno(d->record.get()));
}

QString cMySQL::err_description()
{
    return cstr_to_text(mysql_error(d->record.get()));
}

void cMySQL::escape_string(QString &to_, const QString &from_, qint32 from_length)
{
    to_ = libraryEscape(from_, from_length);
}

void cMySQL::free_result()
{
    // Deliberately nothing: the current result stays until a newer one replaces it.
}

QString cMySQL::get_client_info()
{
    return infoText(mysql_get_client_info(), "get_client_info");
}

QString cMySQL::get_host_info()
{
    return infoText(mysql_get_host_info(d->record.get()), "get_host_info");
}

QString cMySQL::get_proto_info()
{
    const unsigned version = mysql_get_proto_info(d->record.get());
    raiseIf(version == 0 && mysql_errno(d->record.get()) != 0, "get_proto_info");
    return QString::number(version);
}

QVariant cMySQL::get_server_info()
{
    return QVariant(infoText(mysql_get_server_info(d->record.get()), "get_server_info"));
}

QString cMySQL::info()
{
    return infoText(mysql_info(d->record.get()), "info");
}

qint32 cMySQL::insert_id()
{
    return low_long(mysql_insert_id(d->record.get()));
}

void cMySQL::Kill(qint32 PID)
{
    mysql_kill(d->record.get(), static_cast<unsigned long>(quint32(PID)));
}

std::unique_ptr<Recordset> cMySQL::list_dbs(const QString &wild)
{
    const QByteArray w = wild.toUtf8();
    return adoptResult(mysql_list_dbs(d->record.get(), orNull(w)));
}

std::unique_ptr<Recordset> cMySQL::list_fields(const QString &table, const QString &wild)
{
    const QByteArray t = table.toUtf8();
    const QByteArray w = wild.toUtf8();
    return adoptResult(mysql_list_fields(d->record.get(), t.constData(), orNull(w)));
}

std::unique_ptr<Recordset> cMySQL::list_processes()
{
    return adoptResult(mysql_list_processes(d->record.get()));
}

std::unique_ptr<Recordset> cMySQL::list_tables(const QString &wild)
{
    const QByteArray w = wild.toUtf8();
    return adoptResult(mysql_list_tables(d->record.get(), orNull(w)));
}

qint32 cMySQL::num_fields()
{
    return d->result ? qint32(mysql_num_fields(d->result.get())) : 0;
}

qint32 cMySQL::num_rows()
{
    return d->result ? low_long(mysql_num_rows(d->result.get())) : 0;
}

void cMySQL::ping()
{
    raiseIf(mysql_ping(d->record.get()) != 0, "ping");
}

std::unique_ptr<Recordset> cMySQL::query(const QString &SQL)
{
    const QByteArray sql = SQL.toUtf8();
    bool retried = false;
    for (;;) {
        if (isCancelled()) {
            // A cancelled connection runs nothing more, and its broken statement is no error.
            d->noCount = true;
            return nullptr;
        }
        std::optional<RaisedError> failure;
        // A statement that ran but whose rows did not arrive is never sent again.
        bool sent = false;
        if (mysql_real_query(d->record.get(), sql.constData(), sql.size()) != 0) {
            failure = libraryError("query");
        } else if (MYSQL_RES *r = mysql_store_result(d->record.get())) {
            d->noCount = false;
            try {
                return adoptResult(r);
            } catch (const std::exception &e) {
                failure = RaisedError::from(e);
                sent = true;
            }
        } else if (mysql_field_count(d->record.get()) == 0) {
            d->noCount = false;
            return nullptr;  // a statement without rows
        } else {
            failure = libraryError("query");  // rows announced but not received
            sent = true;
        }

        if (isCancelled())
            continue;
        const qint32 number = failure->Number;
        if ((number == CR_SERVER_LOST || number == CR_SERVER_GONE_ERROR) && !retried && !sent) {
            const unsigned long lostThread = mysql_thread_id(d->record.get());
            // Port 3306: a host text with its own port still reaches that port.
            if (!real_connect(m_host, m_user, m_password, m_db, 3306, QString(), 0, m_noErrMsg)) {
                d->noCount = true;
                return nullptr;
            }
            // The old thread may still hold locks if the server has not noticed the loss yet.
            mysql_kill(d->record.get(), lostThread);
            retried = true;
            continue;
        }
        d->noCount = true;
        msgBox(QStringLiteral("Error ") + QString::number(number) + QStringLiteral(" (") + failure->Description
               + u')');
        return nullptr;
    }
}

std::unique_ptr<Recordset> cMySQL::real_query(const QString &query, qint32 Length)
{
    const QByteArray sql = query.toUtf8();
    MYSQL *m = d->record.get();
    d->noCount = false;
    raiseIf(mysql_real_query(m, sql.constData(), byteLength(Length, sql)) != 0, "real_query");
    MYSQL_RES *r = mysql_store_result(m);
    raiseIf(!r && mysql_field_count(m) != 0, "real_query");
    return adoptResult(r);
}

void cMySQL::Refresh(qint32 refresh_options)
{
    raiseIf(mysql_refresh(d->record.get(), unsigned(refresh_options)) != 0, "refresh");
}

void cMySQL::select_db(const QString &db)
{
    const QByteArray name = db.toUtf8();
    const int rc = mysql_select_db(d->record.get(), name.constData());
    // Stored even when the switch failed: a reconnect of query opens it.
    m_db = db;
    raiseIf(rc != 0, "select_db");
}

void cMySQL::shutdown()
{
    raiseIf(mysql_shutdown(d->record.get(), SHUTDOWN_DEFAULT) != 0, "shutdown");
}

QString cMySQL::stat()
{
    MYSQL *m = d->record.get();
    const char *text = mysql_stat(m);
    // On failure this library hands back its error text instead of none.
    raiseIf(mysql_errno(m) != 0, "stat");
    return cstr_to_text(text);
}

qint32 cMySQL::thread_id()
{
    const unsigned long id = mysql_thread_id(d->record.get());
    raiseIf(id == 0 && mysql_errno(d->record.get()) != 0, "thread_id");
    return low_long(id);
}

qint32 cMySQL::thread_safe()
{
    return qint32(mysql_thread_safe());
}

QString cMySQL::cstr_to_text(const char *p)
{
    if (!p)
        return QString();
    const QString text = QString::fromUtf8(p);
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin) == u' ')
        ++begin;
    while (end > begin && text.at(end - 1) == u' ')
        --end;
    return text.mid(begin, end - begin);
}

qint32 cMySQL::low_long(quint64 v)
{
    return qint32(quint32(v));
}

bool cMySQL::splitHostPort(const QString &hostText, QString &name, qint32 &port)
{
    QString host;
    QString portText;
    if (hostText.startsWith(u'[')) {
        const qsizetype close = hostText.indexOf(QStringLiteral("]:"));
        if (close < 0)
            return false;
        host = hostText.mid(1, close - 1);
        portText = hostText.mid(close + 2);
        if (host.contains(u'[') || host.contains(u']'))
            return false;
    } else {
        const qsizetype colon = hostText.indexOf(u':');
        // No colon, or a bare IPv6 address: the text means what it says.
        if (colon < 0 || hostText.indexOf(u':', colon + 1) >= 0)
            return false;
        host = hostText.left(colon);
        portText = hostText.mid(colon + 1);
    }
    if (host.isEmpty() || portText.isEmpty() || portText.size() > 5)
        return false;
    for (const QChar c : std::as_const(portText)) {
        if (c < u'0' || c > u'9')
            return false;
    }
    const int value = portText.toInt();
    if (value < 1 || value > 65535)
        return false;
    name = host;
    port = value;
    return true;
}

std::unique_ptr<Recordset> cMySQL::adoptResult(MYSQL_RES *r)
{
    if (!r)
        return nullptr;
    d->result.reset(r);
    return result_to_recordset();
}

std::unique_ptr<Recordset> cMySQL::result_to_recordset()
{
    MYSQL_RES *res = d->result.get();
    auto rs = std::make_unique<Recordset>();
    const unsigned n = mysql_num_fields(res);
    const qint32 m = low_long(mysql_num_rows(res));
    const MYSQL_FIELD *fields = mysql_fetch_fields(res);

    // Equal names are told apart by their table: a name met again qualifies both the earlier
    // column (once) and the new one.
    struct Column {
        QString label;
        bool qualified;
        qint32 width;
        QString table;
    };
    std::vector<Column> columns;
    columns.reserve(n);
    for (unsigned i = 0; i < n; ++i) {
        const QString name = cstr_to_text(fields[i].name);
        Column column{name, false, low_long(fields[i].length), cstr_to_text(fields[i].table)};
        int matches = 0;
        for (Column &earlier : columns) {
            if (earlier.label != name)
                continue;
            if (!earlier.qualified) {
                earlier.label = earlier.table + u'.' + earlier.label;
                earlier.qualified = true;
            }
            ++matches;
        }
        if (matches > 0) {
            column.label = column.table + u'.' + column.label;
            column.qualified = true;
        }
        columns.push_back(std::move(column));
    }

    for (const Column &column : columns)
        rs->Append(column.label, 8, column.width, -1);
    rs->Open();
    for (qint32 k = 0; k < m; ++k) {
        MYSQL_ROW row = mysql_fetch_row(res);
        if (!row)
            continue;
        rs->AddNew();
        for (unsigned c = 0; c < n; ++c)
            rs->setValue(int(c), cstr_to_text(row[c]));
    }
    rs->UpdateBatch(Recordset::adAffectAll);
    if (rs->RecordCount() > 1)
        rs->MoveFirst();
    return rs;
}

}  // namespace velmar
