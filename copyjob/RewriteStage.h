#pragma once

#include "CopyContext.h"

namespace velmar {

// The rewrite of a finished dump file: the dump between velmar's head and tail, written beside
// the target and renamed into place only when complete.
class RewriteStage {
public:
    explicit RewriteStage(CopyContext &ctx) : m_ctx(ctx) {}
    bool run();

private:
    CopyContext &m_ctx;
};

// The log's lines for the rewrite's head and tail, written to output.
QString headLogLine(const QString &output);
QString tailLogLine(const QString &output);

// Keeps the source's character set and collation beside the dump for a later import without a
// dump; a dump without a known character set removes the file an earlier dump left.
bool saveSourceCharset(CopyContext &ctx);

}  // namespace velmar
