#pragma once

#include "CopyJob.h"

#include <QString>

namespace velmar {

// How a running copy's stage and progress read, the same in the window's status line and in
// velmar-cli's progress line.

// "덤프", "가져오기", ...; empty for Idle.
QString stageText(CopyStage stage);
// The share of total in whole percent, 0 to 100; total must be positive.
int progressPercent(qint64 done, qint64 total);
// "가져오기: 50% (512 B / 1.0 KB), 2.0 KB/s"; without a total (total <= 0) "덤프: 1.5 KB, 100 B/s".
QString progressText(CopyStage stage, qint64 done, qint64 total, double bytesPerSecond);

}  // namespace velmar
