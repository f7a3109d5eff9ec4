#include "LinkMeasure.h"

#include "CopyContext.h"

#include <QElapsedTimer>

#include <algorithm>

namespace velmar {

namespace {

// Below this the dump's protocol compression wins (measured here: about 30 MB/s of dump data
// through compression on one core of the source, a link of 100 Mbit/s carries 12).
constexpr double kCompressBelowMBps = 25.0;

constexpr qint64 kMiB = 1024 * 1024;

// Rows of 1 MiB each: a row stays below any server's max_allowed_packet.
QString rowsOf(int mebibytes)
{
    QStringList rows;
    for (int i = 0; i < mebibytes; ++i)
        rows << QStringLiteral("SELECT REPEAT('x', %1)").arg(kMiB);
    return rows.join(QStringLiteral(" UNION ALL "));
}

// Seconds a question took, or a negative number when it failed.
double timed(const QString &sql)
{
    QElapsedTimer t;
    t.start();
    qint32 error = 0;
    quietRows(sql, &error);
    return error == 0 ? double(t.nsecsElapsed()) / 1e9 : -1.0;
}

}  // namespace

std::optional<LinkFacts> measureLink()
{
    double rtt = 1e9;
    for (int i = 0; i < 3; ++i) {
        const double s = timed(QStringLiteral("SELECT 1"));
        if (s < 0)
            return std::nullopt;
        rtt = std::min(rtt, s);
    }
    const auto rate = [rtt](int mebibytes, double seconds) {
        return double(mebibytes) / std::max(seconds - rtt, 1e-6) * double(kMiB) / 1e6;
    };
    // One MiB first. Well below the threshold it decides alone (on a slow link more would cost
    // seconds); near or above it, where the round trip and the connection's start weigh on one
    // MiB, five more decide.
    int mebibytes = 1;
    double s = timed(rowsOf(1));
    if (s >= 0 && rate(1, s) >= kCompressBelowMBps / 2) {
        mebibytes = 5;
        s = timed(rowsOf(5));
    }
    if (s < 0)
        return std::nullopt;
    LinkFacts link;
    link.roundTripMs = rtt * 1000.0;
    link.megabytesPerSecond = rate(mebibytes, s);
    return link;
}

bool compressionPays(const LinkFacts &link)
{
    return link.megabytesPerSecond < kCompressBelowMBps;
}

QString linkLogLine(const LinkFacts &link, bool compress)
{
    return QStringLiteral("원본 서버 연결 측정: %1 MB/s, 왕복 %2 ms, ")
               .arg(link.megabytesPerSecond, 0, 'f', 1)
               .arg(link.roundTripMs, 0, 'f', 1)
           + (compress ? QStringLiteral("압축 사용") : QStringLiteral("압축 사용 안 함"));
}

}  // namespace velmar
