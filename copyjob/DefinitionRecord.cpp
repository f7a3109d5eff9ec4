#include "DefinitionRecord.h"

#include "TableFingerprint.h"

#include <QCryptographicHash>
#include <QFile>
#include <QSaveFile>

#include <algorithm>

namespace velmar {

namespace {

// The first line names the source; then "table<TAB>source hash<TAB>local hash" a line, the
// table's name percent-encoded (a name may hold a tab).
QByteArray header(const QString &source)
{
    return "velmar table definitions\t" + source.toUtf8().toPercentEncoding() + '\n';
}

}  // namespace

QByteArray DefinitionRecord::hash(const QString &createTable)
{
    return QCryptographicHash::hash(withoutAutoIncrement(createTable).toUtf8(), QCryptographicHash::Sha1).toHex();
}

void DefinitionRecord::read(const QString &path, const QString &source)
{
    m_pairs.clear();
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly) || f.readLine() != header(source))
        return;
    while (!f.atEnd()) {
        const QList<QByteArray> fields = f.readLine().trimmed().split('\t');
        if (fields.size() == 3)
            m_pairs.insert(QString::fromUtf8(QByteArray::fromPercentEncoding(fields[0])), {fields[1], fields[2]});
    }
}

bool DefinitionRecord::write(const QString &path, const QString &source) const
{
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    f.write(header(source));
    QStringList tables = m_pairs.keys();
    std::sort(tables.begin(), tables.end());
    for (const QString &t : std::as_const(tables)) {
        const auto &[there, here] = m_pairs.value(t);
        f.write(t.toUtf8().toPercentEncoding() + '\t' + there + '\t' + here + '\n');
    }
    return f.commit();
}

bool DefinitionRecord::same(const QString &table, const QString &sourceCreate, const QString &localCreate) const
{
    if (withoutAutoIncrement(sourceCreate) == withoutAutoIncrement(localCreate))
        return true;
    const auto pair = m_pairs.constFind(table);
    return pair != m_pairs.constEnd() && pair->first == hash(sourceCreate) && pair->second == hash(localCreate);
}

void DefinitionRecord::set(const QString &table, const QString &sourceCreate, const QString &localCreate)
{
    m_pairs.insert(table, {hash(sourceCreate), hash(localCreate)});
}

}  // namespace velmar
