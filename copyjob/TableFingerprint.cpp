#include "TableFingerprint.h"

#include "modMySQL_Func_lite.h"

#include <QRegularExpression>

namespace velmar {

namespace {

QString rowText(const QStringList &columns)
{
    QStringList parts;
    for (const QString &c : columns)
        parts << QStringLiteral("IFNULL(HEX(CAST(%1 AS BINARY)),'N')").arg(quoteIdentifier(c));
    return QStringLiteral("CONCAT_WS('|',%1)").arg(parts.join(QLatin1Char(',')));
}

}  // namespace

QString fingerprintColumnsQuery(const QString &database, const QString &table)
{
    return QStringLiteral("SELECT COLUMN_NAME FROM information_schema.COLUMNS WHERE TABLE_SCHEMA = %1"
                          " AND TABLE_NAME = %2 AND IFNULL(GENERATION_EXPRESSION, '') = ''"
                          " ORDER BY ORDINAL_POSITION")
        .arg(quoteString(database), quoteString(table));
}

QString primaryKeyQuery(const QString &database, const QString &table)
{
    return QStringLiteral("SELECT COLUMN_NAME FROM information_schema.STATISTICS WHERE TABLE_SCHEMA = %1"
                          " AND TABLE_NAME = %2 AND INDEX_NAME = 'PRIMARY' ORDER BY SEQ_IN_INDEX")
        .arg(quoteString(database), quoteString(table));
}

QString fingerprintQuery(const QString &database, const QString &table, const FingerprintColumns &cols,
                         const std::optional<QString> &from, const std::optional<QString> &to)
{
    const QString hash =
        QStringLiteral("CAST(CONV(SUBSTRING(MD5(%1),1,16),16,10) AS UNSIGNED)").arg(rowText(cols.columns));
    QString sql = QStringLiteral("SELECT COUNT(*), COALESCE(SUM(%1),0) FROM %2.%3")
                      .arg(hash, quoteIdentifier(database), quoteIdentifier(table));
    QStringList where;
    if (cols.primaryKey.size() == 1) {
        const QString key = quoteIdentifier(cols.primaryKey.first());
        if (from)
            where << QStringLiteral("%1 >= %2").arg(key, quoteString(*from));
        if (to)
            where << QStringLiteral("%1 < %2").arg(key, quoteString(*to));
    }
    if (!where.isEmpty())
        sql += QStringLiteral(" WHERE ") + where.join(QStringLiteral(" AND "));
    return sql;
}

QString withoutAutoIncrement(const QString &createTable)
{
    static const QRegularExpression counter(QStringLiteral(" AUTO_INCREMENT=\\d+"));
    QString text = createTable;
    return text.remove(counter);
}

ChangeReason compareTable(const std::optional<QString> &sourceCreate, const std::optional<QString> &localCreate,
                          const TableFingerprint &source, const TableFingerprint &local)
{
    if (!sourceCreate)
        return localCreate ? ChangeReason::Dropped : ChangeReason::None;
    if (!localCreate)
        return ChangeReason::New;
    if (withoutAutoIncrement(*sourceCreate) != withoutAutoIncrement(*localCreate))
        return ChangeReason::Definition;
    return source == local ? ChangeReason::None : ChangeReason::Content;
}

QString reasonText(ChangeReason reason)
{
    switch (reason) {
    case ChangeReason::New:
        return QStringLiteral("새 테이블");
    case ChangeReason::Definition:
        return QStringLiteral("정의 변경");
    case ChangeReason::Content:
        return QStringLiteral("내용 변경");
    case ChangeReason::Dropped:
        return QStringLiteral("원본에서 삭제");
    case ChangeReason::Always:
        return QStringLiteral("항상 복사");
    case ChangeReason::None:
        break;
    }
    return QStringLiteral("변경 없음");
}

}  // namespace velmar
