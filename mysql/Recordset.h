#pragma once

#include <QString>
#include <QStringList>

#include <vector>

namespace velmar {

// One column of a Recordset.
struct RecordsetField {
    QString Name;
    qint32 Type = 8;          // 8: text (the only type the client wrapper produces)
    qint32 DefinedSize = 0;   // the column width the library reported; -1 when unknown
    qint32 Attributes = -1;   // -1: unspecified
};

// The in-memory table in which the client wrapper returns every result: named text columns,
// rows of text values (never null), a cursor, State and RecordCount. It does not depend on the
// connection it came from.
class Recordset {
public:
    static constexpr qint32 adStateClosed = 0;
    static constexpr qint32 adStateOpen = 1;
    static constexpr qint32 adAffectAll = 4;
    // Error raised by Append for a name that is already present.
    static constexpr qint32 errDuplicateName = 3367;

    // Columns. Append works only while closed and refuses a name already present (compared
    // without regard to letter case, as lookups by name are) with RaisedError 3367.
    void Append(const QString &Name, qint32 Type, qint32 DefinedSize, qint32 Attrib);
    int fieldCount() const { return int(m_fields.size()); }
    const RecordsetField &field(int i) const { return m_fields.at(size_t(i)); }
    int fieldIndex(const QString &name) const;  // -1 when absent
    QStringList fieldNames() const;

    // Opens with the appended columns and no rows.
    void Open();
    // Appends an empty row and makes it current.
    void AddNew();
    // Value of column i (zero-based) in the current row; setValue changes it.
    QString value(int i) const;
    QString value(const QString &name) const;
    void setValue(int i, const QString &v);
    // Commits the rows added since Open (kept for the shape of the callers; rows are kept at once).
    void UpdateBatch(qint32 affectRecords = adAffectAll);

    qint32 RecordCount() const { return qint32(m_rows.size()); }
    qint32 State() const { return m_open ? adStateOpen : adStateClosed; }
    void Close();

    // Cursor: a row index, or before the first row (BOF) or after the last (EOF).
    void MoveFirst();
    void MoveLast();
    void MoveNext();
    void MovePrevious();
    bool isBOF() const;
    bool isEOF() const;
    int position() const { return m_pos; }

    // Whole row i, for readers that want plain data.
    const QStringList &row(int i) const { return m_rows.at(size_t(i)); }

    // The version that the record sets report to the data-access check.
    static QString version();

private:
    void requireOpen() const;
    void requireCurrent() const;

    std::vector<RecordsetField> m_fields;
    std::vector<QStringList> m_rows;
    int m_pos = -1;  // -1: BOF; m_rows.size(): EOF
    bool m_open = false;
};

}  // namespace velmar
