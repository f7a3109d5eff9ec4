#include "ServerCheck.h"

#include "Attempt.h"
#include "Messenger.h"
#include "StatementAdapter.h"

namespace velmar {

std::pair<QString, QString> splitAccount(const QString &definer)
{
    const qsizetype at = definer.lastIndexOf(u'@');
    if (at < 0)
        return {definer, QString()};
    return {definer.left(at), definer.mid(at + 1)};
}

namespace {

QString shownAccount(const QString &definer)
{
    const auto [user, host] = splitAccount(definer);
    return quoteString(user) + u'@' + quoteString(host);
}

}  // namespace

QByteArray ServerCheck::definerTo(const CopyRequest &request)
{
    if (!request.stage[2])
        return QByteArrayLiteral("`root`@`localhost`");
    QByteArray user = request.NewUserName().toUtf8();
    user.replace('`', "``");
    return '`' + user + "`@`%`";
}

QStringList ServerCheck::unadaptable(const SourceFacts &source, const LocalFacts &local,
                                     const CopyRequest &request, QStringList &planned)
{
    QStringList refused;
    for (const QString &c : source.collations) {
        const QByteArray name = c.toLower().toUtf8();
        if (local.collations.contains(name))
            continue;
        const QByteArray closest = load::closestCollation(name, local.collations);
        if (closest.isEmpty())
            refused << QStringLiteral("콜레이션 %1: 로컬 서버에 비슷한 것이 없습니다.").arg(c);
        else
            planned << QStringLiteral("적응 예정: 콜레이션 %1 -> %2").arg(c, QString::fromUtf8(closest));
    }
    for (const QString &e : source.engines) {
        if (!local.engines.contains(e.toUpper().toUtf8()))
            refused << QStringLiteral("엔진 %1: 로컬 서버에 없습니다.").arg(e);
    }
    for (const QString &k : source.kinds) {
        // Sequences and system-versioned tables are MariaDB's own.
        if (!local.mariadb)
            refused << QStringLiteral("개체 종류 %1: 로컬 서버에 없습니다.").arg(k);
    }
    for (const QString &t : source.types) {
        if (!local.mariadb)
            refused << QStringLiteral("열 형식 %1: 로컬 서버에 없습니다.").arg(t);
    }
    for (const QString &d : source.definers) {
        if (local.accounts.contains(d.toUtf8()))
            continue;
        if (request.definers == CopyRequest::Definers::CreateLocked)
            planned << QStringLiteral("적응 예정: 정의자 %1을(를) 로컬에 잠긴 계정으로 만듭니다.").arg(shownAccount(d));
        else
            planned << QStringLiteral("적응 예정: 정의자 %1 -> %2")
                           .arg(shownAccount(d), QString::fromUtf8(definerTo(request)));
    }
    return refused;
}

bool ServerCheck::run()
{
    return guarded(QStringLiteral("IsExistDB"), kModMain, [&] {
        const SharedConnection db = m_ctx.localConnection();
        if (!db || !readLocal())
            return false;
        QStringList planned;
        const QStringList refused = unadaptable(m_ctx.source, m_ctx.local, m_ctx.request, planned);
        // The servers are named when they differ or something of the source needs a change.
        const bool known = !m_ctx.source.version.isEmpty();
        if ((known && m_ctx.source.version != m_ctx.local.version) || !planned.isEmpty() || !refused.isEmpty()) {
            if (known)
                messenger().addLog(QStringLiteral("원본 서버: ") + m_ctx.source.version);
            messenger().addLog(QStringLiteral("로컬 서버: ") + m_ctx.local.version);
        }
        for (const QString &line : std::as_const(planned))
            messenger().addLog(line);
        buildAdapter();
        if (refused.isEmpty())
            return true;
        for (const QString &line : refused)
            messenger().addLog(QStringLiteral("적응할 수 없음: ") + line);
        if (m_ctx.isCancelled())
            return false;
        if (!askYesNo(QStringLiteral("원본 DB에 로컬 서버가 받을 수 없는 것이 있습니다.\r\n") + refused.join(QStringLiteral("\r\n"))
                          + QStringLiteral("\r\n그래도 복사할까요?"),
                      Answer::No)) {
            m_ctx.stopReason = QStringLiteral("원본 DB에 로컬 서버가 받을 수 없는 것이 있어 복사하지 않았습니다.");
            return false;
        }
        return !m_ctx.isCancelled();
    }).value_or(false);
}

bool ServerCheck::readLocal()
{
    // One question: the local server is near, but every look is one more wait before the copy.
    std::unique_ptr<Recordset> rs;
    if (OpenRecordset(rs, QStringLiteral(
                              "SELECT 'version', CONVERT(VERSION() USING utf8mb4), CONVERT(@@version_comment USING utf8mb4) "
                              "UNION ALL SELECT 'collation', CONVERT(COLLATION_NAME USING utf8mb4), '' FROM "
                              "information_schema.COLLATIONS "
                              "UNION ALL SELECT 'engine', CONVERT(ENGINE USING utf8mb4), '' FROM information_schema.ENGINES "
                              "WHERE SUPPORT IN ('YES', 'DEFAULT') "
                              "UNION ALL SELECT 'account', CONVERT(User USING utf8mb4), CONVERT(Host USING utf8mb4) FROM "
                              "mysql.user"))
        <= 0
        || !rs)
        return false;
    LocalFacts &local = m_ctx.local;
    local = LocalFacts();
    for (qint32 i = 0; i < rs->RecordCount(); ++i) {
        const QStringList &row = rs->row(i);
        if (row.value(0) == u"version") {
            local.version = row.value(1) + QStringLiteral(" (") + row.value(2) + u')';
            local.mariadb = row.value(1).contains(QStringLiteral("MariaDB"), Qt::CaseInsensitive);
            local.mysql8 = !local.mariadb && row.value(1).section(u'.', 0, 0).toInt() >= 8;
        } else if (row.value(0) == u"collation") {
            local.collations.insert(row.value(1).toLower().toUtf8());
        } else if (row.value(0) == u"engine") {
            local.engines.insert(row.value(1).toUpper().toUtf8());
        } else if (row.value(0) == u"account") {
            local.accounts.insert((row.value(1) + u'@' + row.value(2)).toUtf8());
        }
    }
    // MariaDB 10.10 on names its UCA 14 collations per character set only here.
    if (local.mariadb) {
        if (const auto full = quietRows(QStringLiteral("SELECT FULL_COLLATION_NAME FROM "
                                                       "information_schema.COLLATION_CHARACTER_SET_APPLICABILITY"))) {
            for (qint32 i = 0; i < full->RecordCount(); ++i)
                local.collations.insert(full->row(i).value(0).toLower().toUtf8());
        }
    }
    return true;
}

void ServerCheck::buildAdapter()
{
    load::AdaptRules rules;
    rules.collations = m_ctx.local.collations;
    rules.mariadb = m_ctx.local.mariadb;
    rules.mysql8 = m_ctx.local.mysql8;
    rules.fromDatabase = m_ctx.SourceDBName().toUtf8();
    rules.toDatabase = m_ctx.NewDBName().toUtf8();
    rules.accounts = m_ctx.local.accounts;
    // Definers made locally stay as they are; the check after the copy makes them.
    if (m_ctx.request.definers == CopyRequest::Definers::Rewrite)
        rules.definerTo = definerTo(m_ctx.request);
    m_ctx.adapter = std::make_shared<load::StatementAdapter>(std::move(rules));
}

}  // namespace velmar
