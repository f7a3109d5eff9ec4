#include "StagedReplace.h"

#include "SqlStatementReader.h"

#include <QCryptographicHash>
#include <QFile>
#include <QRegularExpression>

namespace velmar {

QString stagingDatabaseName(const QString &target)
{
    const QByteArray hash = QCryptographicHash::hash(target.toUtf8(), QCryptographicHash::Sha1).toHex();
    return QStringLiteral("velmar_staging_") + QString::fromLatin1(hash.left(16));
}

bool isObjectStatement(const SqlStatement &s)
{
    using Kind = SqlStatement::Kind;
    return s.kind == Kind::SessionSetting || s.kind == Kind::Transaction || isObjectDefinition(s);
}

bool isObjectDefinition(const SqlStatement &s)
{
    using Kind = SqlStatement::Kind;
    switch (s.kind) {
    case Kind::CreateView:
    case Kind::CreateTrigger:
    case Kind::CreateRoutine:
    case Kind::CreateEvent:
        return true;
    case Kind::Other: {
        // The dump drops a view, routine or event before it creates it.
        static const QRegularExpression drop(
            QStringLiteral(R"(^\s*(/\*M?!\d+\s*)?DROP\s+(VIEW|TRIGGER|PROCEDURE|FUNCTION|EVENT)\b)"),
            QRegularExpression::CaseInsensitiveOption);
        return drop.match(QString::fromUtf8(s.text.left(200))).hasMatch();
    }
    default:
        return false;
    }
}

bool scriptNamesDatabase(const QString &path, const QString &database)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;  // the client will report the file
    const QByteArray name = database.toUtf8().toLower();
    SqlStatementReader reader(&f);
    SqlStatement s;
    while (reader.next(s)) {
        if (s.kind == SqlStatement::Kind::Use || s.kind == SqlStatement::Kind::ClientCommand
            || s.text.toLower().contains(name))
            return true;
    }
    return false;
}

}  // namespace velmar
