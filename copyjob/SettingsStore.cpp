#include "SettingsStore.h"

#include "ProgramInfo.h"

#include <QSettings>

#include <memory>

namespace velmar {

namespace {

QString &settingsFileOverride()
{
    static QString file;
    return file;
}

std::unique_ptr<QSettings> openStore()
{
    const QString file = settingsFile();
    if (!file.isEmpty())
        return std::make_unique<QSettings>(file, QSettings::IniFormat);
#ifdef Q_OS_WIN
    // Where the original tool kept its values, so an upgrade keeps what the user typed.
    return std::make_unique<QSettings>(
        QStringLiteral("HKEY_CURRENT_USER\\Software\\VB and VBA Program Settings\\") + programTitle(),
        QSettings::NativeFormat);
#else
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, programTitle(),
                                       programTitle());
#endif
}

}  // namespace

void setSettingsFile(const QString &iniFile)
{
    settingsFileOverride() = iniFile;
}

QString settingsFile()
{
    const QString &set = settingsFileOverride();
    return set.isEmpty() ? qEnvironmentVariable("VELMAR_SETTINGS_FILE") : set;
}

QString GetSetting(const QString &section, const QString &key, const QString &defaultValue)
{
    auto store = openStore();
    const QVariant v = store->value(section + u'/' + key);
    return v.isValid() ? v.toString() : defaultValue;
}

void SaveSetting(const QString &section, const QString &key, const QString &value)
{
    auto store = openStore();
    store->setValue(section + u'/' + key, value);
    store->sync();
}

QString configKeyName(int key)
{
    return QString::fromUtf16(kConfigKeys[key].key);
}

QString GetConfig(int key)
{
    return GetSetting(kConfigSection, configKeyName(key), QString::fromUtf16(kConfigKeys[key].defaultValue));
}

int settingAsNumber(const QString &stored)
{
    const QString t = stored.trimmed();
    qsizetype i = 0;
    if (i < t.size() && (t.at(i) == u'-' || t.at(i) == u'+'))
        ++i;
    while (i < t.size() && t.at(i).isDigit())
        ++i;
    bool ok = false;
    const int n = t.left(i).toInt(&ok);
    return ok ? n : 0;
}

CopyRequest rememberedRequest()
{
    CopyRequest r;
    r.host = GetConfig(cfgHost);
    r.dbPrefix = GetConfig(cfgSrcDB);
    r.user = GetConfig(cfgSrcUser);
    r.dumpOption = GetConfig(cfgDumpOption);
    r.foreign = settingAsNumber(GetConfig(cfgForeign)) != 0;
    r.foreignPath = GetConfig(cfgForeignPath);
    r.existDBDel = settingAsNumber(GetConfig(cfgExistDBDel)) != 0;
    r.onOrdUser = settingAsNumber(GetConfig(cfgOnOrdUser)) != 0;
    r.newDB = GetConfig(cfgNewDB);
    r.newUser = GetConfig(cfgNewUser);
    r.definers = settingAsNumber(GetConfig(cfgDefinerLocal)) != 0 ? CopyRequest::Definers::CreateLocked
                                                                  : CopyRequest::Definers::Rewrite;
    r.changedOnly = settingAsNumber(GetConfig(cfgChangedOnly)) != 0;
    return r;
}

}  // namespace velmar
