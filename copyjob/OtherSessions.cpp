#include "OtherSessions.h"

#include "Messenger.h"
#include "RaisedError.h"

#include <QSet>
#include <QThread>


namespace velmar {

namespace {

QStringList idsLocking(const QString &schema)
{
    const QString lockQuestions[] = {
        QStringLiteral("SELECT DISTINCT t.PROCESSLIST_ID FROM performance_schema.metadata_locks m JOIN "
                       "performance_schema.threads t ON t.THREAD_ID = m.OWNER_THREAD_ID WHERE m.OBJECT_SCHEMA = ")
            + schema + QStringLiteral(" AND t.PROCESSLIST_ID IS NOT NULL"),
        QStringLiteral("SELECT DISTINCT THREAD_ID FROM information_schema.METADATA_LOCK_INFO WHERE TABLE_SCHEMA = ")
            + schema,
    };
    QStringList ids;
    for (const QString &sql : lockQuestions) {
        const std::unique_ptr<Recordset> rs = quietRows(sql);
        for (int i = 0; rs && i < rs->RecordCount(); ++i) {
            bool number = false;
            const qint64 id = rs->row(i).value(0).toLongLong(&number);
            if (number)
                ids << QString::number(id);
        }
    }
    return ids;
}

enum class Choice { Wait, End, Stop };

Choice choose(CopyRequest::OtherSessions rule, const QString &database, const QString &list)
{
    if (rule == CopyRequest::OtherSessions::End)
        return Choice::End;
    const QString askWait = QStringLiteral("다른 연결이 Local DB(") + database + QStringLiteral(")를 사용하고 있습니다.\r\n")
                            + list + QStringLiteral("\r\n\r\n그 연결이 끝날 때까지 기다릴까요?");
    if (rule == CopyRequest::OtherSessions::AskWait)
        return askYesNo(askWait + QStringLiteral("\r\n아니요를 누르면 복사를 멈춥니다. 기존 DB는 그대로입니다."))
                   ? Choice::Wait
                   : Choice::Stop;
    if (askYesNo(askWait + QStringLiteral("\r\n아니요를 누르면 그 연결을 끊을지 묻습니다.")))
        return Choice::Wait;
    return askYesNo(QStringLiteral("그 연결을 끊고(KILL) 계속할까요?\r\n") + list
                        + QStringLiteral("\r\n\r\n아니요를 누르면 복사를 멈춥니다. 기존 DB는 그대로입니다."),
                    Answer::No)
               ? Choice::End
               : Choice::Stop;
}

void endSessions(const std::vector<OtherSession> &sessions)
{
    for (const OtherSession &s : sessions) {
        qint32 error = 0;
        quietRows(QStringLiteral("KILL ") + QString::number(s.id), &error);
        // 1094: it had ended by itself.
        if (error == 0 || error == 1094)
            messenger().addLog(QStringLiteral("다른 연결을 끊었습니다: ") + describeSessions({s}));
        else
            messenger().addLog(QStringLiteral("다른 연결을 끊지 못했습니다 (Error %1): ").arg(error) + describeSessions({s}));
    }
}

QList<qint64> idsOf(const std::vector<OtherSession> &sessions)
{
    QList<qint64> ids;
    for (const OtherSession &s : sessions)
        ids << s.id;
    return ids;
}

// Half a second, looking at cancel every tenth of it.
bool pause(const CopyContext &ctx)
{
    for (int i = 0; i < 5; ++i) {
        if (ctx.isCancelled())
            return false;
        QThread::msleep(100);
    }
    return !ctx.isCancelled();
}

}  // namespace

std::vector<OtherSession> otherSessions(const QString &database)
{
    const QString schema = quoteString(database);
    const QStringList locking = idsLocking(schema);
    QString where = QStringLiteral("DB = ") + schema;
    if (!locking.isEmpty())
        where = u'(' + where + QStringLiteral(" OR ID IN (") + locking.join(u',') + QStringLiteral("))");
    const std::unique_ptr<Recordset> rs
        = quietRows(QStringLiteral("SELECT ID, USER, HOST, COMMAND, TIME, COALESCE(INFO, '') FROM "
                                   "information_schema.PROCESSLIST WHERE ID <> CONNECTION_ID() AND ")
                    + where + QStringLiteral(" ORDER BY ID"));
    std::vector<OtherSession> found;
    for (int i = 0; rs && i < rs->RecordCount(); ++i) {
        const QStringList &r = rs->row(i);
        found.push_back({r.value(0).toLongLong(), r.value(1), r.value(2), r.value(3), r.value(4).toLongLong(),
                         r.value(5).simplified().left(80)});
    }
    return found;
}

QString describeSessions(const std::vector<OtherSession> &sessions)
{
    QStringList lines;
    for (const OtherSession &s : sessions) {
        QString line = QStringLiteral("연결 %1 (%2@%3, %4 %5초)").arg(s.id).arg(s.user, s.host, s.command).arg(s.seconds);
        if (!s.statement.isEmpty())
            line += QStringLiteral(": ") + s.statement;
        lines << line;
    }
    return lines.join(QStringLiteral("\r\n"));
}

bool clearOtherSessions(CopyContext &ctx, const QString &database, QString &stopReason)
{
    bool decided = false;  // to wait (or for the ended ones to go)
    QList<qint64> shown;
    for (;;) {
        if (ctx.isCancelled())
            return false;
        const std::vector<OtherSession> sessions = otherSessions(database);
        if (sessions.empty()) {
            if (decided)
                messenger().addLog(QStringLiteral("다른 연결이 모두 끝나 계속합니다."));
            return true;
        }
        const QString list = describeSessions(sessions);
        if (!decided) {
            switch (choose(ctx.request.otherSessions, database, list)) {
            case Choice::Stop:
                stopReason = QStringLiteral("다른 연결이 Local DB(") + database
                             + QStringLiteral(")를 사용하고 있어 복사를 멈췄습니다. 기존 DB는 그대로입니다.");
                return false;
            case Choice::End:
                endSessions(sessions);
                break;
            case Choice::Wait:
                ctx.startStage(CopyStage::WaitSessions);
                break;
            }
            decided = true;
        }
        if (idsOf(sessions) != shown) {
            shown = idsOf(sessions);
            messenger().addLog(QStringLiteral("다른 연결이 끝나기를 기다립니다 (취소로 멈춥니다):\r\n") + list);
        }
        if (!pause(ctx))
            return false;
    }
}

}  // namespace velmar
