#include "DumpRewrite.h"

#include "DumpFolder.h"
#include "GrowingFile.h"

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

FollowingRewrite::FollowingRewrite(const QString &dumpPath, const QString &outPath)
    : m_dump(dumpPath), m_out(outPath), m_file(std::make_shared<GrowingFile>())
{
}

FollowingRewrite::~FollowingRewrite()
{
    m_file->fail(QStringLiteral("덤프파일 편집이 중단되었습니다"));
    m_dump.close();
    m_out.close();
    if (!m_committed)
        removeFile(m_out.fileName());
}

bool FollowingRewrite::write(const QByteArray &bytes)
{
    if (m_out.write(bytes) != bytes.size()) {
        m_error = m_out.errorString();
        return false;
    }
    m_written += bytes.size();
    m_file->publish(m_written);
    return true;
}

bool FollowingRewrite::begin()
{
    // Unbuffered: a block is in the file, for its readers, once written.
    if (!m_out.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        m_error = m_out.errorString();
        return false;
    }
    restrictToOwner(m_out);
    return write(kRewriteHead);
}

RewriteOutcome FollowingRewrite::failed(RewriteOutcome outcome)
{
    m_outcome = outcome;
    if (m_error.isEmpty())
        m_error = outcome == RewriteOutcome::ReadFailed ? m_dump.errorString() : m_out.errorString();
    m_file->fail(m_error);
    return outcome;
}

RewriteOutcome FollowingRewrite::pump()
{
    if (m_outcome != RewriteOutcome::Done)
        return m_outcome;
    if (!m_dump.isOpen() && !m_dump.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return RewriteOutcome::Done;  // not made yet
    for (;;) {
        const QByteArray block = m_dump.read(kCopyBlock);
        if (block.isEmpty())
            return m_dump.error() == QFileDevice::NoError ? RewriteOutcome::Done : failed(RewriteOutcome::ReadFailed);
        if (!write(block))
            return failed(RewriteOutcome::WriteFailed);
    }
}

RewriteOutcome FollowingRewrite::drain()
{
    const RewriteOutcome outcome = pump();
    if (!m_dump.isOpen() && outcome == RewriteOutcome::Done)
        return failed(RewriteOutcome::ReadFailed);  // the dump is not there
    m_dump.close();
    return outcome;
}

RewriteOutcome FollowingRewrite::finish()
{
    if (m_outcome != RewriteOutcome::Done)
        return m_outcome;
    if (!write(kRewriteTail))
        return failed(RewriteOutcome::WriteFailed);
    m_out.close();
    m_file->finish();
    return RewriteOutcome::Done;
}

void FollowingRewrite::abandon(const QString &why)
{
    m_file->fail(why);
}

bool FollowingRewrite::commit(const QString &target)
{
    m_out.close();
    if (!replaceFile(m_out.fileName(), target, &m_error))
        return false;
    m_committed = true;
    return true;
}

}  // namespace velmar
