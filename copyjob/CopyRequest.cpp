#include "CopyRequest.h"

#include "Messenger.h"
#include "ProgramInfo.h"
#include "cMySQL.h"
#include "modWaitProc.h"

#include <QFileInfo>
#include <QHostAddress>
#include <QHostInfo>
#include <QNetworkInterface>

namespace velmar {

namespace {

// Leading and trailing blanks removed (only blanks: a tab or a line end stays).
QString trimSpaces(const QString &text)
{
    qsizetype b = 0, e = text.size();
    while (b < e && text.at(b) == u' ')
        ++b;
    while (e > b && text.at(e - 1) == u' ')
        --e;
    return text.mid(b, e - b);
}

// The longest names the local server takes: a database name, and the user part of an account
// (the User column of mysql.user in MariaDB 10.11).
constexpr qsizetype kMaxDatabaseName = 64;
constexpr qsizetype kMaxUserName = 128;

}  // namespace

QString joinPath(const QString &folder, const QString &name)
{
    return folder + pathSeparator() + name;
}

bool fileExists(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() && info.isFile();
}

bool isLocalHost(const QString &hostText)
{
    QString host = hostText.trimmed();
    QString name;
    qint32 port = 0;
    if (cMySQL::splitHostPort(host, name, port))
        host = name;
    if (host.startsWith(u'[') && host.endsWith(u']'))
        host = host.mid(1, host.size() - 2);
    if (host.isEmpty())
        return false;
    if (host.compare(QStringLiteral("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(host);
    if (!address.isNull()) {
        if (address.isLoopback())
            return true;
        const auto own = QNetworkInterface::allAddresses();
        for (const QHostAddress &a : own)
            if (a.isEqual(address, QHostAddress::TolerantConversion))
                return true;
        return false;
    }
    const QString machine = QHostInfo::localHostName();
    if (!machine.isEmpty()) {
        if (host.compare(machine, Qt::CaseInsensitive) == 0)
            return true;
        // The machine's name with its domain.
        const QString shortName = host.section(u'.', 0, 0);
        if (shortName.compare(machine.section(u'.', 0, 0), Qt::CaseInsensitive) == 0
            && host.contains(u'.') && !QHostInfo::localDomainName().isEmpty()
            && host.compare(machine.section(u'.', 0, 0) + u'.' + QHostInfo::localDomainName(),
                            Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

// A host text that names a port ("name:port", "[address]:port") which is not a number from 1 to
// 65535. A bare IPv6 address (two colons or more) names none.
bool hasBadPort(const QString &hostText)
{
    const QString host = hostText.trimmed();
    QString name;
    qint32 port = 0;
    if (cMySQL::splitHostPort(host, name, port))
        return false;
    if (host.startsWith(u'[')) {
        const qsizetype close = host.indexOf(u']');
        return close >= 0 && close + 1 < host.size();
    }
    return host.count(u':') == 1;
}

ValidationResult ValidateCopyRequest(const CopyRequest &r)
{
    auto refuse = [](const QString &message, FieldId focus) {
        msgBox(message);
        return ValidationResult{false, focus};
    };
    if (!r.stage[0] && !r.stage[1] && !r.stage[2])
        return refuse(QStringLiteral("작업범위가 선택되지 않았습니다."), FieldId::chkWork0);
    if (r.host.isEmpty())
        return refuse(QStringLiteral("host를 입력하세요."), FieldId::cmbField0);
    if (hasBadPort(r.host))
        return refuse(QStringLiteral("HOST의 포트는 1부터 65535까지의 숫자로 입력하세요. [") + r.host.trimmed() + u']',
                      FieldId::cmbField0);
    if (r.newDB.isEmpty() && r.host == QStringLiteral("localhost"))
        return refuse(
            QStringLiteral("HOST가 localhost일 경우 New DB는 다른 이름으로 반드시 입력되어야 합니다."),
            FieldId::txtField3);
    if (r.dbPrefix.isEmpty())
        return refuse(QStringLiteral("db를 입력하세요."), FieldId::cmbField1);
    if (r.user.isEmpty())
        return refuse(QStringLiteral("User를 입력하세요."), FieldId::txtField0);
    // An open quote would otherwise take the rest of the options as one word: "-q -e \"--no-data"
    // would dump no rows and replace the local database by empty tables.
    bool quotesClosed = true;
    splitShellWords(r.dumpOption, &quotesClosed);
    if (r.stage[0] && !quotesClosed)
        return refuse(QStringLiteral("option의 따옴표가 닫히지 않았습니다. ") + r.dumpOption, FieldId::txtField1);
    // Names the server would refuse are found here, not after a whole dump.
    const QString newDB = r.NewDBName();
    if ((r.stage[1] || r.stage[2]) && newDB.trimmed().isEmpty())
        return refuse(QStringLiteral("New DB 이름이 비어 있습니다."), FieldId::txtField3);
    if ((r.stage[1] || r.stage[2]) && newDB.size() > kMaxDatabaseName)
        return refuse(QStringLiteral("New DB 이름은 64자를 넘을 수 없습니다. ") + newDB, FieldId::txtField3);
    if ((r.stage[1] || r.stage[2]) && newDB.endsWith(u' '))
        return refuse(QStringLiteral("New DB 이름은 공백으로 끝날 수 없습니다. [") + newDB + u']', FieldId::txtField3);
    const QString newUser = r.NewUserName() + (r.onOrdUser ? QStringLiteral("_ord") : QString());
    if (r.stage[2] && r.NewUserName().trimmed().isEmpty())
        return refuse(QStringLiteral("New USER 이름이 비어 있습니다."), FieldId::txtField2);
    if (r.stage[2] && newUser.size() > kMaxUserName)
        return refuse(QStringLiteral("New USER 이름은 128자를 넘을 수 없습니다. ") + newUser, FieldId::txtField2);
    if (r.foreign) {
        if (trimSpaces(r.foreignPath).isEmpty())
            return refuse(QStringLiteral("외래키 스크립트 파일경로가 설정되어 있지 않습니다."),
                          FieldId::txtField4);
        if (!fileExists(joinPath(r.foreignPath, kPelsarScript)))
            return refuse(kPelsarScript + QStringLiteral(" 파일이 존재하지 않습니다."), FieldId::None);
        if (!fileExists(joinPath(r.foreignPath, kDorvikScript)))
            return refuse(kDorvikScript + QStringLiteral(" 파일이 존재하지 않습니다."), FieldId::None);
    }
    // The target check would otherwise find the source itself on the local server and drop it
    // before it has been dumped.
    const QString source = r.SourceDBName();
    const QString target = r.NewDBName();
    if (isLocalHost(r.host)
        && target.trimmed().compare(source.trimmed(), Qt::CaseInsensitive) == 0)
        return refuse(QStringLiteral("원본 DB(") + source
                          + QStringLiteral(")가 로컬 서버에 있으므로 New DB는 다른 이름으로 반드시 입력되어야 합니다."),
                      FieldId::txtField3);
    return ValidationResult{true, FieldId::None};
}

}  // namespace velmar
