#pragma once

#include <QByteArray>
#include <QIODevice>

#include <atomic>
#include <functional>

namespace velmar {

// The rewritten dump starts and ends with these statements (byte for byte), so that it loads
// with autocommit and foreign-key checks off and ends with a commit.
inline const QByteArray kRewriteHead = QByteArrayLiteral("SET AUTOCOMMIT = 0;\r\nSET FOREIGN_KEY_CHECKS=0;\r\n");
inline const QByteArray kRewriteTail =
    QByteArrayLiteral("SET FOREIGN_KEY_CHECKS = 1;\r\nCOMMIT;\r\nSET AUTOCOMMIT = 1;\r\n");

enum class RewriteOutcome { Done, Cancelled, ReadFailed, WriteFailed };

// Writes head + the first total bytes of in + tail to out, streaming in blocks so that memory
// stays flat whatever the dump's size. progress gets the dump bytes copied so far; cancel is
// looked at before every block. The dump itself is neither parsed nor changed.
RewriteOutcome rewriteDump(QIODevice &in, QIODevice &out, qint64 total,
                           const std::atomic_bool *cancel = nullptr,
                           const std::function<void(qint64 copied)> &progress = {});

}  // namespace velmar
