#include "RaisedError.h"

#include "Messenger.h"

#include <new>

namespace velmar {

RaisedError::RaisedError(qint32 number, QString source, QString description)
    : Number(number), Source(std::move(source)), Description(std::move(description)),
      m_what(QString(QString::number(Number) + u' ' + Source + u": " + Description).toStdString())
{
}

RaisedError RaisedError::from(const std::exception &e)
{
    if (auto raised = dynamic_cast<const RaisedError *>(&e))
        return *raised;
    if (dynamic_cast<const std::bad_alloc *>(&e))
        return RaisedError(err::OutOfMemory, QString(), QStringLiteral("Out of memory"));
    return RaisedError(5, QString(), QString::fromLocal8Bit(e.what()));
}

RaisedError fileError(qint32 number, const QString &path, const QString &reason)
{
    QString name;
    switch (number) {
    case err::FileNotFound: name = QStringLiteral("File not found"); break;
    case err::DiskFull: name = QStringLiteral("Disk full"); break;
    case err::InputPastEnd: name = QStringLiteral("Input past end of file"); break;
    case err::PathNotFound: name = QStringLiteral("Path not found"); break;
    default: name = QStringLiteral("Path/File access error"); break;
    }
    QString description = name + QStringLiteral(": ") + path;
    if (!reason.isEmpty())
        description += QStringLiteral(" (") + reason + u')';
    return RaisedError(number, QString(), description);
}

QString errorReportText(const RaisedError &e, const QString &procedure, const QString &unit)
{
    return u"Error " + QString::number(e.Number) + u" (" + e.Description + u") in procedure "
           + procedure + u" of " + unit;
}

void reportError(const RaisedError &e, const QString &procedure, const QString &unit)
{
    msgBox(errorReportText(e, procedure, unit));
}

}  // namespace velmar
