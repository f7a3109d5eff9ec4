#pragma once

class QTranslator;

namespace velmar {

// Installs Qt's own Korean texts (the text boxes' context menus, the standard dialogs and
// buttons) in the application, so that nothing built in shows in English. Looks in a
// "translations" folder beside the executable first (the Windows zip carries it there), then in
// Qt's own translations folder. Returns the installed translator (owned by the application;
// deleting it uninstalls it), or nullptr when neither folder has the Korean texts.
QTranslator *installQtTranslations();

}  // namespace velmar
