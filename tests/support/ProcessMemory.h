#pragma once

#include <QByteArray>
#include <QFile>

namespace velmar::test {

// A line of /proc/self/status in KiB ("VmHWM:" the peak, "VmRSS:" now); -1 where there is none.
inline long processStatusKiB(const QByteArray &field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(field.size()).trimmed().split(' ').first().toLong();
    return -1;
}

inline long peakResidentKiB()
{
    return processStatusKiB("VmHWM:");
}

inline long residentKiB()
{
    return processStatusKiB("VmRSS:");
}

}  // namespace velmar::test
