#include "UiFont.h"

#include <QFontDatabase>
#include <QStringList>

namespace velmar {

namespace {

QString koreanFamily()
{
    static const QString family = [] {
        const QStringList installed = QFontDatabase::families();
        for (const char16_t *candidate : {u"Gulim", u"굴림", u"NanumGothic", u"Malgun Gothic"}) {
            const QString name = QString::fromUtf16(candidate);
            if (installed.contains(name, Qt::CaseInsensitive))
                return name;
        }
        return QString();
    }();
    return family;
}

}  // namespace

QFont uiFont(bool bold)
{
    QFont f;
    // Every property set explicitly, so a child never inherits the bold of its group box.
    const QString family = koreanFamily();
    f.setFamily(family.isEmpty() ? QFont().family() : family);
    f.setPointSize(9);
    f.setBold(bold);
    f.setItalic(false);
    return f;
}

}  // namespace velmar
