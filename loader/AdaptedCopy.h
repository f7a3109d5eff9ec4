#pragma once

#include <QByteArray>
#include <QString>

namespace velmar::load {

class StatementAdapter;

// The first line newer MariaDB dumps begin with; the mysql client of MySQL refuses it.
inline constexpr char kSandboxLine[] = "/*M!999999\\- enable the sandbox mode */";

// Writes the statements of the file at in, each passed through adapter (database: the one the
// client loads into), to out as the mysql client reads them: for a file only the client can load.
// The sandbox line is kept when keepSandbox and the file began with it. false with why.
bool writeAdaptedCopy(const QString &in, const QString &out, StatementAdapter &adapter,
                      const QByteArray &database, bool keepSandbox, QString *error);

}  // namespace velmar::load
