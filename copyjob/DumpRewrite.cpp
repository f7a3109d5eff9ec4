#include "DumpRewrite.h"

namespace velmar {

namespace {
constexpr qint64 kCopyBlock = 4 << 20;
}

RewriteOutcome rewriteDump(QIODevice &in, QIODevice &out, qint64 total, const std::atomic_bool *cancel,
                           const std::function<void(qint64 copied)> &progress)
{
    auto write = [&out](const QByteArray &bytes) { return out.write(bytes) == bytes.size(); };
    if (!write(kRewriteHead))
        return RewriteOutcome::WriteFailed;
    qint64 copied = 0;
    while (copied < total) {
        if (cancel && cancel->load())
            return RewriteOutcome::Cancelled;
        const QByteArray block = in.read(qMin(kCopyBlock, total - copied));
        if (block.isEmpty())
            return RewriteOutcome::ReadFailed;
        if (!write(block))
            return RewriteOutcome::WriteFailed;
        copied += block.size();
        if (progress)
            progress(copied);
    }
    return write(kRewriteTail) ? RewriteOutcome::Done : RewriteOutcome::WriteFailed;
}

}  // namespace velmar
