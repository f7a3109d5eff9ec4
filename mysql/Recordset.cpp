#include "Recordset.h"

#include "RaisedError.h"

namespace velmar {

namespace {

// The record set's own errors carry the numbers and texts that users of data-access record sets
// know.
constexpr qint32 errNotFound = 3265;
constexpr qint32 errNoCurrentRecord = 3021;
constexpr qint32 errNotAllowed = 3219;
constexpr qint32 errClosed = 3704;
constexpr qint32 errOpen = 3705;

[[noreturn]] void raise(qint32 number, const char *description)
{
    throw RaisedError(number, QStringLiteral("Recordset"), QString::fromLatin1(description));
}

[[noreturn]] void raiseNoCurrentRecord()
{
    raise(errNoCurrentRecord, "Either BOF or EOF is True, or the current record has been deleted. "
                              "Requested operation requires a current record.");
}

[[noreturn]] void raiseNotFound()
{
    raise(errNotFound, "Item cannot be found in the collection corresponding to the requested name or ordinal.");
}

}  // namespace

void Recordset::Append(const QString &Name, qint32 Type, qint32 DefinedSize, qint32 Attrib)
{
    if (m_open)
        raise(errNotAllowed, "Operation is not allowed in this context.");
    if (fieldIndex(Name) >= 0)
        raise(errDuplicateName, "Object already in collection. Cannot append.");
    m_fields.push_back(RecordsetField{Name, Type, DefinedSize, Attrib});
}

int Recordset::fieldIndex(const QString &name) const
{
    for (size_t i = 0; i < m_fields.size(); ++i) {
        if (m_fields[i].Name.compare(name, Qt::CaseInsensitive) == 0)
            return int(i);
    }
    return -1;
}

QStringList Recordset::fieldNames() const
{
    QStringList names;
    for (const RecordsetField &f : m_fields)
        names << f.Name;
    return names;
}

void Recordset::Open()
{
    if (m_open)
        raise(errOpen, "Operation is not allowed when the object is open.");
    m_rows.clear();
    m_pos = -1;
    m_open = true;
}

void Recordset::AddNew()
{
    requireOpen();
    m_rows.emplace_back();
    QStringList &row = m_rows.back();
    for (size_t i = 0; i < m_fields.size(); ++i)
        row << QString();
    m_pos = int(m_rows.size()) - 1;
}

QString Recordset::value(int i) const
{
    requireCurrent();
    if (i < 0 || i >= fieldCount())
        raiseNotFound();
    return m_rows[size_t(m_pos)].at(i);
}

QString Recordset::value(const QString &name) const
{
    const int i = fieldIndex(name);
    if (i < 0)
        raiseNotFound();
    return value(i);
}

void Recordset::setValue(int i, const QString &v)
{
    requireCurrent();
    if (i < 0 || i >= fieldCount())
        raiseNotFound();
    m_rows[size_t(m_pos)][i] = v;
}

void Recordset::UpdateBatch(qint32 affectRecords)
{
    Q_UNUSED(affectRecords);
    requireOpen();
}

void Recordset::Close()
{
    requireOpen();
    m_rows.clear();
    m_pos = -1;
    m_open = false;
}

void Recordset::MoveFirst()
{
    requireOpen();
    if (m_rows.empty())
        raiseNoCurrentRecord();
    m_pos = 0;
}

void Recordset::MoveLast()
{
    requireOpen();
    if (m_rows.empty())
        raiseNoCurrentRecord();
    m_pos = int(m_rows.size()) - 1;
}

void Recordset::MoveNext()
{
    requireOpen();
    if (isEOF())
        raiseNoCurrentRecord();
    ++m_pos;
}

void Recordset::MovePrevious()
{
    requireOpen();
    if (isBOF())
        raiseNoCurrentRecord();
    --m_pos;
}

bool Recordset::isBOF() const
{
    requireOpen();
    return m_rows.empty() || m_pos < 0;
}

bool Recordset::isEOF() const
{
    requireOpen();
    return m_rows.empty() || m_pos >= int(m_rows.size());
}

QString Recordset::version()
{
    return QStringLiteral("2.8");
}

void Recordset::requireOpen() const
{
    if (!m_open)
        raise(errClosed, "Operation is not allowed when the object is closed.");
}

void Recordset::requireCurrent() const
{
    if (isBOF() || isEOF())
        raiseNoCurrentRecord();
}

}  // namespace velmar
