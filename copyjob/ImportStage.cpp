#include "ImportStage.h"

#include "AdaptedCopy.h"
#include "Attempt.h"
#include "ClientPrograms.h"
#include "FollowedCopy.h"
#include "LocalServer.h"
#include "Messenger.h"
#include "RaisedError.h"
#include "StagedReplace.h"
#include "StagedSwap.h"
#include "StatementAdapter.h"

#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>

namespace velmar {

namespace {

QString megabytes(qint64 bytes)
{
    return QString::number(double(bytes) / (1024.0 * 1024.0), 'f', 0) + QStringLiteral(" MB");
}

}  // namespace

bool ImportStage::run()
{
    return guarded(QStringLiteral("SETP_DBImport"), kModMain, [this] {
        if (m_ctx.isCancelled())
            return false;
        const QString file = m_ctx.editedFilePath();
        // Unless the server's folder has no room for both and the user chose to drop it first.
        bool replacing = m_ctx.target == TargetDecision::Replace;
        if (replacing && !roomBesideOld(QFileInfo(file).size(), replacing))
            return false;
        const QString loadInto = m_ctx.loadDatabase();
        if (m_ctx.isCancelled() || !createDatabase(m_ctx, loadInto))
            return false;
        return complete(loadInto, replacing, [&] { return loadFile(file, loadInto); });
    }).value_or(false);
}

bool ImportStage::run(FollowedCopy &followed)
{
    return guarded(QStringLiteral("SETP_DBImport"), kModMain, [&] {
        if (m_ctx.isCancelled())
            return false;
        const QString file = m_ctx.editedFilePath();
        const QString loadInto = m_ctx.loadDatabase();
        return complete(loadInto, followed.replacing(),
                        [&] { return settle(followed.takeLoad(file), file, loadInto); });
    }).value_or(false);
}

bool ImportStage::complete(const QString &loadInto, bool replacing, const std::function<bool()> &load)
{
    m_into = loadInto;
    m_replacing = replacing;
    // The foreign-key script is the user's own SQL: one that names a database could reach the old
    // database while it is still the user's (or not find the new one), so it waits for the swap.
    const QString script = foreignKeyScript();
    const bool scriptAfterSwap = !script.isEmpty() && scriptNamesDatabase(script, m_ctx.NewDBName());
    StagedSwap swap(m_ctx);
    bool finished = false;
    // Whatever stops the import before the user's side has changed drops what it loaded.
    const auto discard = qScopeGuard([&] {
        if (!finished && !swap.begun())
            discardLoad(m_ctx, m_into, replacing);
    });
    if (!load() || (!script.isEmpty() && !scriptAfterSwap && !runForeignKeys(script, m_into)))
        return false;
    // A cancel that came as the load ended keeps the user's database too: the swap has not begun.
    if (m_ctx.isCancelled())
        return false;
    // Loaded by the client under the new name itself.
    if (m_into == m_ctx.NewDBName()) {
        finished = !scriptAfterSwap || runForeignKeys(script, m_into);
        return finished;
    }
    if (!swap.run(m_into, replacing))
        return false;
    return !scriptAfterSwap || runForeignKeys(script, m_ctx.NewDBName());
}

bool ImportStage::loadFile(const QString &file, const QString &database)
{
    messenger().addLog(clientCommandLine(file, database));
    if (!fileExists(file))
        throw fileError(err::FileNotFound, file);
    const LoadOptions options = m_ctx.loadOptions();
    messenger().addLog(QStringLiteral("velmar 로더로 가져옵니다 (연결 %1개)").arg(options.connections));
    return settle(loadSqlFile(file, m_ctx.localTarget(database), options), file, database);
}

bool ImportStage::settle(const LoadResult &r, const QString &file, const QString &database)
{
    switch (r.outcome) {
    case LoadResult::Outcome::Loaded:
        logFigures(r);
        return true;
    case LoadResult::Outcome::Cancelled:
        return false;
    case LoadResult::Outcome::NeedsClient:
        // A file with commands only the client runs (source, system, ...) is the client's, from
        // its start, in the database this copy made (made anew when the loader sent statements
        // before it reached the command).
        messenger().addLog(r.message + QStringLiteral(" -> ") + clientProgramName());
        // Its views and routines cannot be made again from the file in another database, so a
        // new database is loaded under its own name.
        if (!m_replacing)
            m_into = m_ctx.NewDBName();
        if (r.statements > 0 || m_into != database) {
            {
                const SharedConnection db = m_ctx.localConnection();
                if (!db)
                    return false;
                DropDatabase(database);
            }
            if (m_ctx.isCancelled() || !createDatabase(m_ctx, m_into))
                return false;
        }
        return clientLoad(file);
    case LoadResult::Outcome::Failed:
        break;
    }
    throw RaisedError(r.errorNumber ? qint32(r.errorNumber) : 1, clientProgramName(), r.message);
}

// Where the load's time went: the connections' figures are added up over them, so beside the
// total they say which part held it back.
void ImportStage::logFigures(const LoadResult &r)
{
    const auto seconds = [](qint64 ms) { return QString::number(double(ms) / 1000.0, 'f', 1); };
    const LoadFigures &f = r.figures;
    messenger().addLog(QStringLiteral("가져오기 시간: 전체 %1초 - 행 %2초(연결 %3개 합계, LOAD DATA %4개), "
                                      "키 %5초(테이블 %6개), 외래 키 %7초, 마지막 행 뒤 %8초, 덤프 기다림 %9초")
                           .arg(seconds(f.totalMs), seconds(f.rowsMs))
                           .arg(r.connections)
                           .arg(r.asData)
                           .arg(seconds(f.keysMs))
                           .arg(f.keyTables)
                           .arg(seconds(f.foreignKeysMs), seconds(f.afterRowsMs), seconds(f.dumpWaitMs)));
}

bool ImportStage::clientLoad(const QString &file)
{
    if (!m_ctx.adapter)
        return runClient(m_ctx, file, m_into, CopyStage::Import, false);
    // The dump stays as written; the client reads a copy with the load's changes, which MySQL's
    // client also takes without MariaDB's sandbox line.
    const QString adapted = file + QStringLiteral(".client");
    const auto removeCopy = qScopeGuard([&] { QFile::remove(adapted); });
    QString error;
    if (!load::writeAdaptedCopy(file, adapted, *m_ctx.adapter, m_into.toUtf8(), m_ctx.local.mariadb, &error))
        throw RaisedError(1, clientProgramName(), QStringLiteral("%1: %2").arg(adapted, error));
    messenger().addLog(QStringLiteral("mysql 클라이언트에는 로컬 서버에 맞춘 사본을 줍니다: ") + adapted);
    return runClient(m_ctx, adapted, m_into, CopyStage::Import, false);
}

bool ImportStage::roomBesideOld(qint64 bytes, bool &replacing)
{
    DataFolderRoom room;
    if (!localRoom(m_ctx, room))
        return false;
    // Elsewhere than on this machine the load goes on.
    if (!room.free || *room.free >= bytes)
        return true;
    if (!askYesNo(QStringLiteral("로컬 서버의 데이터 폴더(") + room.folder + QStringLiteral(")에 남은 공간(")
                      + megabytes(*room.free)
                      + QStringLiteral(")이 기존 DB를 둔 채 새 DB를 가져오기에 부족합니다(약 ") + megabytes(bytes)
                      + QStringLiteral(" 필요).\r\n기존 DB를 먼저 삭제하고 가져올까요?"),
                  Answer::No)
        || m_ctx.isCancelled() || !dropTarget(m_ctx))
        return false;
    replacing = false;
    return true;
}

QString ImportStage::foreignKeyScript() const
{
    const CopyRequest &r = m_ctx.request;
    if (!r.foreign)
        return {};
    if (m_ctx.SourceDBName().left(7) == QStringLiteral("pelsar_"))
        return joinPath(r.foreignPath, kPelsarScript);
    if (m_ctx.SourceDBName().left(7) == QStringLiteral("dorvik_"))
        return joinPath(r.foreignPath, kDorvikScript);
    return {};
}

bool ImportStage::runForeignKeys(const QString &script, const QString &database)
{
    m_ctx.startStage(CopyStage::ForeignKeys);
    return runClient(m_ctx, script, database, CopyStage::ForeignKeys);
}

}  // namespace velmar
