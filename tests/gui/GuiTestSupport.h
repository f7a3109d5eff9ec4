#pragma once

#include <QSettings>
#include <QStringList>
#include <QTest>
#include <QWidget>

namespace velmar::test {

// The per-user store of the program as a plain settings file (each test has its own
// XDG_CONFIG_HOME), read and reset independently of the window.
inline QSettings rawStore()
{
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("velmar"),
                     QStringLiteral("velmar"));
}
inline QStringList storedKeys()
{
    return rawStore().allKeys();
}
inline void clearStore()
{
    QSettings s(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("velmar"),
                QStringLiteral("velmar"));
    s.clear();
    s.sync();
}
inline void presetStore(const QStringList &keyValuePairs)
{
    QSettings s(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("velmar"),
                QStringLiteral("velmar"));
    for (qsizetype i = 0; i + 1 < keyValuePairs.size(); i += 2)
        s.setValue(QStringLiteral("Config/") + keyValuePairs[i], keyValuePairs[i + 1]);
    s.sync();
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
