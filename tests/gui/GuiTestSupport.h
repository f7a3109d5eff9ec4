#pragma once

#include "SettingsStore.h"

#include <QSettings>
#include <QStringList>
#include <QTest>
#include <QWidget>

#include <memory>

namespace velmar::test {

// The program's store, opened where the program keeps it during the tests (each test program
// has its own throwaway file, never the user's store), to read and reset it independently of the
// window.
inline std::unique_ptr<QSettings> rawStore()
{
    const QString file = velmar::settingsFile();
    if (file.isEmpty())
        qFatal("VELMAR_SETTINGS_FILE is not set: the test would use the user's own store");
    return std::make_unique<QSettings>(file, QSettings::IniFormat);
}
inline QStringList storedKeys()
{
    return rawStore()->allKeys();
}
inline void clearStore()
{
    auto s = rawStore();
    s->clear();
    s->sync();
}
inline void presetStore(const QStringList &keyValuePairs)
{
    auto s = rawStore();
    for (qsizetype i = 0; i + 1 < keyValuePairs.size(); i += 2)
        s->setValue(QStringLiteral("Config/") + keyValuePairs[i], keyValuePairs[i + 1]);
    s->sync();
}

// Types text key by key as a user would, Hangul included.
inline void typeText(QWidget *w, const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() < 0x80)
            QTest::keyClick(w, c.toLatin1());
        else
            QTest::sendKeyEvent(QTest::Click, w, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
}

// The control that holds the focus, named as the window names it (an editable combo box's
// inner line edit counts as the combo box).
inline QString focusName(QWidget *window)
{
    QWidget *f = window->focusWidget();
    if (!f)
        return QString();
    if (f->objectName().isEmpty() && f->parentWidget())
        return f->parentWidget()->objectName();
    return f->objectName();
}

}  // namespace velmar::test
