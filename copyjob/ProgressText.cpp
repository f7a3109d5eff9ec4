#include "ProgressText.h"

namespace velmar {

namespace {

QString sizeText(double bytes)
{
    static const char *const units[] = {"B", "KB", "MB", "GB", "TB"};
    int unit = 0;
    while (bytes >= 1024.0 && unit < 4) {
        bytes /= 1024.0;
        ++unit;
    }
    if (unit == 0)
        return QString::number(qint64(bytes)) + QStringLiteral(" B");
    return QString::number(bytes, 'f', 1) + u' ' + QLatin1String(units[unit]);
}

}  // namespace

QString stageText(CopyStage stage)
{
    switch (stage) {
    case CopyStage::Idle: return QString();
    case CopyStage::CheckSource: return QStringLiteral("원본 DB 확인");
    case CopyStage::CheckTarget: return QStringLiteral("로컬 DB 확인");
    case CopyStage::Dump: return QStringLiteral("덤프");
    case CopyStage::Rewrite: return QStringLiteral("덤프파일 편집");
    case CopyStage::Import: return QStringLiteral("가져오기");
    case CopyStage::ForeignKeys: return QStringLiteral("외래키 처리");
    case CopyStage::Grants: return QStringLiteral("유저생성");
    case CopyStage::WaitSessions: return QStringLiteral("다른 연결 대기");
    case CopyStage::Done: return QStringLiteral("완료");
    }
    return QString();
}

int progressPercent(qint64 done, qint64 total)
{
    return int(qBound(qint64(0), done * 100 / total, qint64(100)));
}

QString progressText(CopyStage stage, qint64 done, qint64 total, double bytesPerSecond)
{
    const QString speed = sizeText(bytesPerSecond) + QStringLiteral("/s");
    if (total > 0)
        return stageText(stage) + QStringLiteral(": ") + QString::number(progressPercent(done, total))
            + QStringLiteral("% (") + sizeText(double(done)) + QStringLiteral(" / ") + sizeText(double(total))
            + QStringLiteral("), ") + speed;
    return stageText(stage) + QStringLiteral(": ") + sizeText(double(done)) + QStringLiteral(", ") + speed;
}

}  // namespace velmar
