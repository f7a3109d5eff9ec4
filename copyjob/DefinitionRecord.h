#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

#include <utility>

namespace velmar {

// What each table's definition was on the source and on the local server right after a refresh
// put it there. Two kinds of server print the same table differently (MySQL 8 and MariaDB differ
// in display widths, defaults, collations), so unequal texts do not make a table changed when
// both are still exactly the pair a copy produced. A pair matches only when both sides are as
// they were: an edit on either side makes the table changed again.
class DefinitionRecord {
public:
    // The hash a definition is kept as: SHOW CREATE TABLE without its AUTO_INCREMENT counter.
    static QByteArray hash(const QString &createTable);

    // Reads the record a refresh from source ("host/database") left; a missing file, or one of
    // another source, is an empty record.
    void read(const QString &path, const QString &source);
    // false when the file could not be written (the next refresh compares the texts alone).
    bool write(const QString &path, const QString &source) const;

    // Whether the two definitions of table are the same table.
    bool same(const QString &table, const QString &sourceCreate, const QString &localCreate) const;
    void set(const QString &table, const QString &sourceCreate, const QString &localCreate);

private:
    QHash<QString, std::pair<QByteArray, QByteArray>> m_pairs;
};

}  // namespace velmar
