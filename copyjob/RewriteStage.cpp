#include "RewriteStage.h"

#include "Attempt.h"
#include "DumpFolder.h"
#include "DumpRewrite.h"
#include "Messenger.h"
#include "RaisedError.h"

#include <QFile>
#include <QSaveFile>

namespace velmar {

bool RewriteStage::run()
{
    const QString input = m_ctx.dumpFilePath();
    const QString output = m_ctx.editedFilePath();
    return guarded(QStringLiteral("STEP_EditSQLFile"), kModMain, [&] {
        QFile in(input);
        if (!in.exists())
            throw fileError(err::FileNotFound, input);
        if (!in.open(QIODevice::ReadOnly))
            throw fileError(err::PathFileAccess, input, in.errorString());
        const qint64 total = in.size();
        if (total == 0)
            throw fileError(err::InputPastEnd, input);

        // A failed rewrite never leaves a truncated file for a later import-only copy.
        QSaveFile out(output);
        if (!out.open(QIODevice::WriteOnly))
            throw fileError(err::PathFileAccess, output, out.errorString());
        restrictToOwner(out);

        messenger().addLog(headLogLine(output));
        QElapsedTimer t;
        t.start();
        switch (rewriteDump(in, out, total, &m_ctx.cancel,
                            [&](qint64 copied) { m_ctx.report(CopyStage::Rewrite, copied, total, t); })) {
        case RewriteOutcome::Cancelled:
            out.cancelWriting();
            return false;
        case RewriteOutcome::ReadFailed:
            throw fileError(err::InputPastEnd, input);
        case RewriteOutcome::WriteFailed:
            throw fileError(err::DiskFull, output, out.errorString());
        case RewriteOutcome::Done:
            break;
        }
        messenger().addLog(tailLogLine(output));
        if (!out.commit())
            throw fileError(err::PathFileAccess, output, out.errorString());
        return true;
    }).value_or(false);
}

QString headLogLine(const QString &output)
{
    return output + QStringLiteral(" / Head AddLine...\r\n\r\n") + QString::fromLatin1(kRewriteHead);
}

QString tailLogLine(const QString &output)
{
    return output + QStringLiteral(" / Tail AddLine...\r\n\r\n") + QString::fromLatin1(kRewriteTail);
}

bool saveSourceCharset(CopyContext &ctx)
{
    const QString path = ctx.charsetFilePath();
    return guarded(QStringLiteral("STEP_EditSQLFile"), kModMain, [&] {
        if (ctx.source.charset.isEmpty())
            return removeFile(path);
        QSaveFile out(path);
        if (!out.open(QIODevice::WriteOnly) || out.write(ctx.source.charset.toUtf8() + '\n') < 0 || !out.commit())
            throw fileError(err::PathFileAccess, path, out.errorString());
        return true;
    }).value_or(false);
}

}  // namespace velmar
