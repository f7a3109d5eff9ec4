// Rewrites a generated dump of the given size (MiB, default 512) and prints the throughput and
// the peak memory of the process, which must stay flat whatever the size of the dump.
#include "CopyJob.h"
#include "RewriteStage.h"
#include "ProcessMemory.h"
#include "Messenger.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

using velmar::test::peakResidentKiB;

namespace {

class QuietMessenger : public velmar::Messenger {
public:
    velmar::Answer show(const velmar::Message &m) override
    {
        std::fprintf(stderr, "%s\n", qPrintable(m.text));
        return velmar::Answer::Ok;
    }
    void addLog(const QString &) override {}
    void clearLog() override {}
    void openUrl(const QString &) override {}
};

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const qint64 mib = argc > 1 ? QByteArray(argv[1]).toLongLong() : 512;
    QTemporaryDir dir(argc > 2 ? QString::fromLocal8Bit(argv[2]) + QStringLiteral("/bench-XXXXXX")
                               : QDir::tempPath() + QStringLiteral("/bench-XXXXXX"));
    QDir(dir.path()).mkdir(QStringLiteral("dump"));

    velmar::CopyRequest r;
    r.dbPrefix = QStringLiteral("pelsar_");
    r.user = QStringLiteral("bench");
    r.programFolder = dir.path();
    velmar::CopyContext job(r);
    {
        QFile f(job.dumpFilePath());
        f.open(QIODevice::WriteOnly);
        QByteArray line("INSERT INTO t VALUES (1,'");
        line += QByteArray(200, 'x') + "');\n";
        QByteArray block;
        while (block.size() < (1 << 20))
            block += line;
        block.truncate(1 << 20);
        for (qint64 i = 0; i < mib; ++i)
            f.write(block);
    }
    const long before = peakResidentKiB();
    QuietMessenger quiet;
    velmar::setMessenger(&quiet);
    QElapsedTimer t;
    t.start();
    const bool ok = velmar::RewriteStage(job).run();
    const qint64 ms = t.elapsed();
    std::printf("rewrite of %lld MiB: %s in %.2f s, %.0f MiB/s\n", mib, ok ? "ok" : "FAILED", ms / 1000.0,
                ms > 0 ? mib * 1000.0 / ms : 0.0);
    std::printf("peak resident memory: %ld KiB before the rewrite, %ld KiB after\n", before, peakResidentKiB());
    velmar::setMessenger(nullptr);
    return ok ? 0 : 1;
}
