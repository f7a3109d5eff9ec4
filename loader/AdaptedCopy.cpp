#include "AdaptedCopy.h"

#include "SqlStatementReader.h"
#include "StatementAdapter.h"

#include <QFile>
#include <QSaveFile>

namespace velmar::load {

namespace {

// One statement as the client reads it: a text that holds the delimiter gets one of its own.
QByteArray clientText(const SqlStatement &s)
{
    if (s.kind == SqlStatement::Kind::ClientCommand)
        return s.command + '\n';
    if (!s.text.contains(';'))
        return s.text + ";\n";
    const QByteArray delimiter = s.text.contains(";;") ? QByteArrayLiteral("$$") : QByteArrayLiteral(";;");
    return "DELIMITER " + delimiter + '\n' + s.text + delimiter + "\nDELIMITER ;\n";
}

}  // namespace

bool writeAdaptedCopy(const QString &in, const QString &out, StatementAdapter &adapter,
                      const QByteArray &database, bool keepSandbox, QString *error)
{
    QFile source(in);
    if (!source.open(QIODevice::ReadOnly)) {
        *error = source.errorString();
        return false;
    }
    const bool sandbox = source.peek(qstrlen(kSandboxLine)) == kSandboxLine;
    QSaveFile target(out);
    if (!target.open(QIODevice::WriteOnly)) {
        *error = target.errorString();
        return false;
    }
    if (sandbox && keepSandbox)
        target.write(QByteArray(kSandboxLine) + '\n');
    SqlStatementReader reader(&source);
    SqlStatement s;
    while (reader.next(s)) {
        if (s.kind != SqlStatement::Kind::ClientCommand && !adapter.adapt(s, database))
            continue;
        if (s.kind != SqlStatement::Kind::ClientCommand && s.text.trimmed().isEmpty())
            continue;
        target.write(clientText(s));
    }
    if (!reader.error().isEmpty()) {
        *error = reader.error();
        return false;
    }
    if (!target.commit()) {
        *error = target.errorString();
        return false;
    }
    return true;
}

}  // namespace velmar::load
