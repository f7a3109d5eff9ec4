#pragma once

#include <QByteArray>

namespace velmar {

// The rows of a plain "INSERT INTO `t` [(columns)] VALUES (...),(...)" as the data of a
// LOAD DATA LOCAL INFILE statement: the server reads such data about twice as fast as it
// parses the INSERT, and stores the same values.
struct RowsAsData {
    QByteArray statement;  // LOAD DATA LOCAL INFILE ... INTO TABLE `t` CHARACTER SET cs ... (columns)
    QByteArray data;       // a line per row, fields apart by tabs, with LOAD DATA's escapes
    qint64 rows = 0;
};

// False when the INSERT is anything but that: INSERT IGNORE, REPLACE, ON DUPLICATE KEY, a
// table of another database, a value other than a quoted string, a plain number or NULL
// (hex, bit and introduced strings, DEFAULT, expressions), an escape other than the ones
// mysqldump writes, a negative zero (the INSERT stores 0, LOAD DATA would keep the sign).
// charset is the session's character_set_client, in which the strings are written.
bool rowsAsData(const QByteArray &insert, const QByteArray &charset, RowsAsData &out);

}  // namespace velmar
