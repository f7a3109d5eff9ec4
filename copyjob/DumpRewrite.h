#pragma once

#include <QByteArray>
#include <QFile>
#include <QIODevice>

#include <atomic>
#include <functional>
#include <memory>

namespace velmar {

class GrowingFile;

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

// The same rewrite while the dump is still being written, so that the import can follow it:
// the head at once, at each pump what the dump has added since, the tail once the dump has
// ended. What is written goes straight to the file and is then published for its readers.
// The first failure stops the readers and every later step; outcome() keeps it. A rewrite that
// is not committed is removed when it goes (its readers must have closed it).
class FollowingRewrite {
public:
    FollowingRewrite(const QString &dumpPath, const QString &outPath);
    ~FollowingRewrite();

    std::shared_ptr<GrowingFile> file() const { return m_file; }
    QString errorString() const { return m_error; }
    RewriteOutcome outcome() const { return m_outcome; }  // Done, or the first failure

    bool begin();              // creates the file and writes the head
    RewriteOutcome pump();     // copies what the dump has added
    RewriteOutcome drain();    // the dump has ended: copies the rest and lets the dump go
    RewriteOutcome finish();   // writes the tail; the readers' end of the file
    void abandon(const QString &why);  // readers stop with why
    bool commit(const QString &target);  // puts the complete file in target's place

private:
    bool write(const QByteArray &bytes);
    RewriteOutcome failed(RewriteOutcome outcome);

    QFile m_dump;
    QFile m_out;
    std::shared_ptr<GrowingFile> m_file;
    qint64 m_written = 0;
    bool m_committed = false;
    RewriteOutcome m_outcome = RewriteOutcome::Done;
    QString m_error;
};

}  // namespace velmar
