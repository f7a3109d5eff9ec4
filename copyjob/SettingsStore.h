#pragma once

#include "CopyRequest.h"

#include <QString>

namespace velmar {

// The per-user settings store of the program (application "velmar"): string values by section
// and key. On Windows the registry of the current user, under the key the original tool used;
// elsewhere a per-user settings file in the user's configuration folder ($XDG_CONFIG_HOME, or
// ~/.config, /velmar/velmar.conf).
QString GetSetting(const QString &section, const QString &key, const QString &defaultValue);
void SaveSetting(const QString &section, const QString &key, const QString &value);

// Points the store at an INI file instead of the per-user place (empty: back to that place). The
// environment variable VELMAR_SETTINGS_FILE does the same for a whole run; the setter wins. Tests
// use it on every platform so that they never read or overwrite the user's own fields.
void setSettingsFile(const QString &iniFile);
// The INI file the store uses; empty when it is the per-user place.
QString settingsFile();

// The ten remembered fields of the main window: key names and defaults, in reading order.
struct SettingKey {
    const char16_t *key;
    const char16_t *defaultValue;
};
inline constexpr SettingKey kConfigKeys[] = {
    {u"Host", u""},
    {u"SrcDB", u""},
    {u"SrcUser", u""},
    {u"DumpOption", u"-q -e"},
    {u"foreign", u"1"},
    {u"foreignPath", u"D:\\CS_새사용자\\SQL\\특수SQL"},
    {u"ExistDBDel", u"0"},
    {u"OnOrdUser", u"0"},
    {u"NewDB", u""},
    {u"NewUser", u""},
    {u"DefinerLocal", u"0"},
    {u"ChangedOnly", u"0"},
};
inline const QString kConfigSection = QStringLiteral("Config");

// Indexes into kConfigKeys.
enum ConfigKey : int {
    cfgHost, cfgSrcDB, cfgSrcUser, cfgDumpOption, cfgForeign,
    cfgForeignPath, cfgExistDBDel, cfgOnOrdUser, cfgNewDB, cfgNewUser, cfgDefinerLocal, cfgChangedOnly,
};
QString configKeyName(int key);
// The remembered value of one of the ten fields, or its default when none is stored.
QString GetConfig(int key);

// A stored check-box value as the box's state: the whole number at the start of the text
// (0 when there is none); anything but 0 ticks the box.
int settingAsNumber(const QString &stored);

// The copy request of the remembered fields, read in the store's order: what the window shows at
// its start and what velmar-cli starts from. Stages and program folder are not remembered.
CopyRequest rememberedRequest();

}  // namespace velmar
