#pragma once

#include <QString>

namespace velmar {

struct SqlStatement;

// The database a replacing import loads into first, while the user's database stays whole:
// "velmar_staging_" and a hash of the target's name, so it never clashes with a name of the
// user's, fits the server's 64 characters, and the next copy of the same target finds one that
// a crashed copy left behind.
QString stagingDatabaseName(const QString &target);

// What moving the tables cannot carry into the final database: views, triggers, routines and
// events, their drops, and the session settings and transactions around them, re-run from the
// file in file order.
bool isObjectStatement(const SqlStatement &statement);
// Of those, the views, triggers, routines and events and their drops.
bool isObjectDefinition(const SqlStatement &statement);

// Whether an SQL script names a database itself (USE, or the given name anywhere in a
// statement): such a script must not run before the user's database has been replaced.
bool scriptNamesDatabase(const QString &path, const QString &database);

}  // namespace velmar
