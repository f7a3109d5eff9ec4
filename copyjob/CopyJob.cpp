#include "CopyJob.h"

#include "Attempt.h"
#include "ChangedTables.h"
#include "DumpFolder.h"
#include "DumpStage.h"
#include "FollowedCopy.h"
#include "GrantStage.h"
#include "ImportStage.h"
#include "LocalServer.h"
#include "Messenger.h"
#include "ObjectCheck.h"
#include "RaisedError.h"
#include "RewriteStage.h"
#include "ServerCheck.h"
#include "SourceCheck.h"
#include "TargetCheck.h"

#include <QElapsedTimer>
#include <QLockFile>

namespace velmar {

void AddLog(const QString &line)
{
    messenger().addLog(line);
}

QString formatElapsed(qint64 milliseconds)
{
    const qint64 total = milliseconds / 1000;
    const qint64 h = total / 3600;
    const qint64 m = (total / 60) % 60;
    const qint64 s = total % 60;
    return QStringLiteral("%1:%2:%3")
        .arg(h, 2, 10, QChar(u'0'))
        .arg(m, 2, 10, QChar(u'0'))
        .arg(s, 2, 10, QChar(u'0'));
}

CopyJob::CopyJob(CopyRequest request, QObject *parent) : QObject(parent), m_ctx(std::move(request))
{
    m_ctx.stageStarted = [this](CopyStage stage) { emit stageStarted(stage); };
    m_ctx.progress = [this](CopyStage stage, qint64 done, qint64 total, double rate) {
        emit progress(stage, done, total, rate);
    };
}

CopyJob::~CopyJob() = default;

void CopyJob::cancel()
{
    m_ctx.requestCancel();
}

bool CopyJob::ProcCopy()
{
    // A cancel is looked at before every step as well as after it: a copy cancelled while a
    // step waited on the server must not go on to drop, create or grant anything.
    m_ctx.stopReason.clear();
    m_ctx.replaced = false;
    const LastMessage lastBox;
    // Every stage reports its own failures; what reaches here has no step to go on with.
    const bool copied = guarded(QStringLiteral("ProcCopy"), kFormMain, [this] {
        messenger().clearLog();
        return runStages();
    }).value_or(false);
    if (copied)
        return true;
    // The log keeps why the copy stopped once the box that said it is gone.
    if (isCancelled()) {
        if (m_ctx.replaced)
            AddLog(QStringLiteral("Local DB(") + NewDBName()
                   + QStringLiteral(")는 취소 전에 교체를 시작해 교체까지 마쳤습니다. 그 뒤의 작업은 취소되었습니다."));
        AddLog(QStringLiteral("복사가 취소되었습니다."));
    } else {
        const QString reason = !m_ctx.stopReason.isEmpty() ? m_ctx.stopReason : lastBox.text();
        AddLog(QStringLiteral("복사 중단: ")
               + (reason.isEmpty() ? QStringLiteral("작업이 완료되지 않았습니다.") : reason));
    }
    return false;
}

bool CopyJob::runStep(CopyStage stage, const QString &logLine, const std::function<bool()> &step)
{
    if (!goesOn(true))
        return false;
    emit stageStarted(stage);
    if (!logLine.isEmpty())
        AddLog(logLine);
    return goesOn(step());
}

bool CopyJob::runStages()
{
    const CopyRequest &r = m_ctx.request;
    QElapsedTimer clock;
    clock.start();
    m_ctx.source = SourceFacts();
    m_ctx.local = LocalFacts();
    m_ctx.adapter.reset();
    m_ctx.target = TargetDecision::LoadNew;
    m_ctx.changes.reset();
    if (!goesOn(true))
        return false;
    m_ctx.settleDumpFolder();
    std::vector<std::unique_ptr<QLockFile>> locks;
    if (!claimFiles(locks) || (r.stage[0] && !checkSource())
        || (r.stage[1] && (!runStep(CopyStage::CheckTarget, QString(), [this] { return ServerCheck(m_ctx).run(); })
                           || !checkTarget()))
        || (r.changedOnly && !findChanges()))
        return false;
    if (importCanFollowDump() ? !runFollowed() : !runSeparately())
        return false;
    if (r.stage[2] && !runStep(CopyStage::Grants, QString(), [this] { return GrantStage(m_ctx).run(); }))
        return false;
    // After the grants: a definer may be the granted account.
    if (r.stage[1] && !runStep(CopyStage::Import, QString(), [this] { return ObjectCheck(m_ctx).run(); }))
        return false;

    if (!goesOn(true))
        return false;
    // Said again where a finished copy is read (only a dump's source check finds anything).
    if (!m_ctx.source.leftOut.isEmpty())
        AddLog(m_ctx.source.leftOut);
    AddLog(QStringLiteral("[Finish] Total Time=") + formatElapsed(clock.elapsed()));
    emit stageStarted(CopyStage::Done);
    msgBox(QStringLiteral("복사완료"));
    return true;
}

bool CopyJob::checkSource()
{
    if (!goesOn(true))
        return false;
    emit stageStarted(CopyStage::CheckSource);
    AddLog(QStringLiteral("Check Exist DB..."));
    const DbPresence source = SourceCheck(m_ctx).run();
    if (source != DbPresence::Present) {
        if (!goesOn(true))
            return false;
        // A server that could not be asked has told why; the database may well be there.
        if (source == DbPresence::Missing) {
            msgBox(QStringLiteral("존재하지 않는 DB입니다. ") + m_ctx.request.host + u'/' + SourceDBName());
            emit focusRequested(FieldId::cmbField1);
        }
        return false;
    }
    if (!m_ctx.source.linkLine.isEmpty())
        AddLog(m_ctx.source.linkLine);
    if (!m_ctx.source.leftOut.isEmpty())
        AddLog(m_ctx.source.leftOut);
    return true;
}

bool CopyJob::checkTarget()
{
    if (!goesOn(true))
        return false;
    // An import without a dump loads the file an earlier dump left; without it nothing would be
    // loaded into a database that has just been dropped.
    const QString edited = m_ctx.editedFilePath();
    if (!m_ctx.request.stage[0] && !fileExists(edited)) {
        msgBox(QStringLiteral("가져올 덤프 파일이 없습니다.\r\n") + edited
               + QStringLiteral("\r\n\r\n먼저 1. DB dump 작업으로 덤프 파일을 만드세요."));
        return false;
    }
    emit stageStarted(CopyStage::CheckTarget);
    m_ctx.target = TargetCheck(m_ctx).run();
    return m_ctx.target != TargetDecision::Stop;
}

bool CopyJob::findChanges()
{
    const CopyRequest &r = m_ctx.request;
    // What the refresh compares with comes from the source now and goes to the local server.
    if (!r.stage[0] || !r.stage[1]) {
        AddLog(QStringLiteral("변경된 테이블만 복사는 덤프와 가져오기를 함께 할 때만 합니다. 전체를 복사합니다."));
        return true;
    }
    if (m_ctx.target != TargetDecision::Replace) {
        AddLog(QStringLiteral("Local DB(") + NewDBName() + QStringLiteral(")가 없어 전체를 복사합니다."));
        return true;
    }
    // The script adds foreign keys to every table, the ones the refresh leaves alone too.
    if (r.foreign) {
        AddLog(QStringLiteral("외래키 처리를 하는 복사는 전체를 복사합니다."));
        return true;
    }
    return runStep(CopyStage::CheckTarget, QStringLiteral("변경된 테이블 찾기..."),
                   [this] { return ChangedTables(m_ctx).run(); });
}

bool CopyJob::importCanFollowDump()
{
    if (!m_ctx.request.stage[0] || !m_ctx.request.stage[1])
        return false;
    // A refresh dumps in two runs (the changed tables, then every table's triggers).
    if (m_ctx.changes)
        return false;
    if (m_ctx.target != TargetDecision::Replace)
        return true;
    // The dump's size is not known before it ends: twice the source's own size stands for it.
    // A folder that may be short waits for the dump, and its question is asked with the real size.
    DataFolderRoom room;
    const bool reached = localRoom(m_ctx, room);
    const qint64 bytes = m_ctx.source.bytes;
    return reached && bytes >= 0 && (!room.free || *room.free >= 2 * bytes);
}

bool CopyJob::runSeparately()
{
    const CopyRequest &r = m_ctx.request;
    if (r.stage[0]
        && (!runStep(CopyStage::Dump, QStringLiteral("Dump..."), [this] { return DumpStage(m_ctx).run(); })
            || !rewriteSteps()))
        return false;
    return !r.stage[1] || importStep();
}

bool CopyJob::importStep()
{
    return runStep(CopyStage::Import, QStringLiteral("Import..."), [this] { return ImportStage(m_ctx).run(); });
}

bool CopyJob::rewriteSteps()
{
    return runStep(CopyStage::Rewrite, QStringLiteral("DumpFile Edit..."), [this] { return RewriteStage(m_ctx).run(); })
           && goesOn(saveSourceCharset(m_ctx));
}

bool CopyJob::runFollowed()
{
    // Whatever stops the copy before the import has taken the load over drops it with followed.
    FollowedCopy followed(m_ctx);
    if (!runStep(CopyStage::Dump, QStringLiteral("Dump..."), [&] { return followed.dump(); }))
        return false;
    // A dump that wrote nothing before it ended has had nothing follow it.
    if (!followed.isFollowing())
        return rewriteSteps() && importStep();
    // The rewrite and the import have logged their start with the dump's first bytes.
    return goesOn(followed.rewrite()) && goesOn(saveSourceCharset(m_ctx))
           && goesOn(ImportStage(m_ctx).run(followed));
}

bool CopyJob::claimFiles(std::vector<std::unique_ptr<QLockFile>> &locks)
{
    const CopyRequest &r = m_ctx.request;
    struct Claim {
        bool needed;
        QString path;
        QString busy;
    };
    // The dump stage writes the dump files and the import reads them; the import and the grants
    // work on the new database.
    const Claim claims[] = {
        {r.stage[0] || r.stage[1], m_ctx.dumpFilePath() + QStringLiteral(".lock"),
         QStringLiteral("같은 덤프 파일을 쓰는 다른 복사가 진행중입니다. ") + m_ctx.dumpFilePath()},
        {r.stage[1] || r.stage[2],
         joinPath(m_ctx.dumpFolder(), dumpFileBaseName(NewDBName()) + QStringLiteral(".newdb.lock")),
         QStringLiteral("같은 New DB에 복사하는 다른 복사가 진행중입니다. ") + NewDBName()},
    };
    for (const Claim &claim : claims) {
        if (!claim.needed)
            continue;
        auto lock = std::make_unique<QLockFile>(claim.path);
        // Only a lock whose copy has ended without removing it is stale, however long a copy runs.
        lock->setStaleLockTime(0);
        if (!lock->tryLock(0)) {
            if (lock->error() != QLockFile::LockFailedError)
                throw fileError(err::PathFileAccess, claim.path);
            msgBox(claim.busy);
            return false;
        }
        locks.push_back(std::move(lock));
    }
    return true;
}

}  // namespace velmar
