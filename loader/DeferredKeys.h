#pragma once

#include <QByteArray>

namespace velmar {

// Splits the secondary keys and foreign keys off a CREATE TABLE as mysqldump writes it (one
// column or key a line), so that the rows load without the server keeping those indexes up to
// date row by row, and each index is then built once, sorted: the table ends up exactly as the
// whole statement would have made it. addKeys is "ALTER TABLE `t` ADD ..., ADD ..." for the keys,
// addForeignKeys the same for the foreign keys, which go after the keys they use; either may be "".
// False, and nothing split, for any table not of that plain shape: no primary key, full-text or
// spatial keys, partitions, names or comments that are not plain ASCII.
bool splitSecondaryKeys(const QByteArray &createTable, QByteArray &withoutKeys, QByteArray &addKeys,
                        QByteArray &addForeignKeys);

// Whether a statement is mysqldump's "ALTER TABLE `table` DISABLE KEYS" or "ENABLE KEYS".
bool isKeysSwitch(const QByteArray &statement, const QByteArray &table);

}  // namespace velmar
