#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace velmar {

// What one table holds, computed by the same SQL on the source and on the local server, so that
// two server versions or row formats cannot make equal tables look different: the row count and
// the sum of a 64-bit hash of each row's values in a fixed text form (every column as the hex of
// its bytes, NULL as N). The sum does not depend on the order rows are read in.
struct TableFingerprint {
    qint64 rows = 0;
    QString hashSum;  // a decimal, as the server printed it
    bool operator==(const TableFingerprint &other) const = default;
};

// The columns a fingerprint covers: every column but generated ones (they follow from the
// definition, which is compared apart).
struct FingerprintColumns {
    QStringList columns;
    QStringList primaryKey;  // empty: the table is read as one chunk
};

// SELECT of the fingerprinted columns' names in table order (generated ones left out), and of the
// primary key's columns in key order; both the same on MySQL and MariaDB.
QString fingerprintColumnsQuery(const QString &database, const QString &table);
QString primaryKeyQuery(const QString &database, const QString &table);

// SELECT of the count and hash sum of one chunk of `database`.`table`; with a primary key of one
// column a chunk is [from, to) of it (either end left open when empty), else the whole table.
QString fingerprintQuery(const QString &database, const QString &table, const FingerprintColumns &cols,
                         const std::optional<QString> &from = std::nullopt,
                         const std::optional<QString> &to = std::nullopt);

// Why a table is copied again.
// Always: a kind of table the fingerprint cannot vouch for (a sequence, a system-versioned
// table's history), copied on every refresh.
enum class ChangeReason { None, New, Definition, Content, Dropped, Always };

// The reason from what both sides know; a local table that is missing is New, a source table that
// is missing is Dropped. Definitions are compared without their AUTO_INCREMENT counter.
ChangeReason compareTable(const std::optional<QString> &sourceCreate, const std::optional<QString> &localCreate,
                          const TableFingerprint &source, const TableFingerprint &local);

// SHOW CREATE TABLE text without its AUTO_INCREMENT=n table option.
QString withoutAutoIncrement(const QString &createTable);

// The log's word for a reason.
QString reasonText(ChangeReason reason);

}  // namespace velmar
