#include "DeferredKeys.h"

#include <QList>

namespace velmar {

namespace {

bool isAscii(const QByteArray &text)
{
    for (char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    }
    return true;
}

}  // namespace

bool splitSecondaryKeys(const QByteArray &createTable, QByteArray &withoutKeys, QByteArray &addKeys,
                        QByteArray &addForeignKeys)
{
    const QList<QByteArray> lines = createTable.split('\n');
    if (lines.size() < 3 || !lines.first().startsWith("CREATE TABLE `") || !lines.first().endsWith("` (")
        || createTable.contains("PARTITION") || createTable.contains("FULLTEXT")
        || createTable.contains("SPATIAL"))
        return false;
    qsizetype close = 1;
    while (close < lines.size() && !lines[close].startsWith(')'))
        ++close;
    if (close == lines.size())
        return false;

    QList<QByteArray> kept;
    QList<QByteArray> deferred;
    QList<QByteArray> foreign;
    bool primary = false;
    for (qsizetype i = 1; i < close; ++i) {
        QByteArray line = lines[i];
        if (!line.startsWith("  "))
            return false;  // a line inside a quoted text: not the plain shape
        if (line.endsWith(','))
            line.chop(1);
        const QByteArray item = line.mid(2);
        if (item.startsWith('`')) {
            kept << line;
        } else if (item.startsWith("PRIMARY KEY ")) {
            primary = true;
            kept << line;
        } else if (item.startsWith("KEY ") || item.startsWith("UNIQUE KEY ")
                   || (item.startsWith("CONSTRAINT ") && item.contains(" FOREIGN KEY "))) {
            if (!isAscii(item))
                return false;
            (item.startsWith("CONSTRAINT ") ? foreign : deferred) << item;
        } else {
            kept << line;  // a check constraint or anything else stays where it is
        }
    }
    if (!primary || (deferred.isEmpty() && foreign.isEmpty()))
        return false;

    const QByteArray table = lines.first().mid(13, lines.first().size() - 15);
    withoutKeys = lines.first();
    for (qsizetype i = 0; i < kept.size(); ++i)
        withoutKeys += '\n' + kept[i] + (i + 1 < kept.size() ? "," : "");
    for (qsizetype i = close; i < lines.size(); ++i)
        withoutKeys += '\n' + lines[i];
    const auto alter = [&](const QList<QByteArray> &items) {
        QByteArray text;
        for (qsizetype i = 0; i < items.size(); ++i)
            text += (i ? ", ADD " : " ADD ") + items[i];
        return text.isEmpty() ? text : "ALTER TABLE " + table + text;
    };
    addKeys = alter(deferred);
    addForeignKeys = alter(foreign);
    return true;
}

bool isKeysSwitch(const QByteArray &statement, const QByteArray &table)
{
    QByteArray t = statement.trimmed();
    if (t.startsWith("/*!")) {
        qsizetype i = 3;
        while (i < t.size() && t[i] >= '0' && t[i] <= '9')
            ++i;
        t = t.mid(i).trimmed();
    }
    const QByteArray alter = "ALTER TABLE `" + QByteArray(table).replace("`", "``") + "` ";
    return t.startsWith(QByteArray(alter + "DISABLE KEYS")) || t.startsWith(QByteArray(alter + "ENABLE KEYS"));
}

}  // namespace velmar
