#include "ProcessSetup.h"

#include <QByteArray>
#include <QtGlobal>

namespace velmar {

void prepareProcess()
{
#ifdef Q_OS_WIN
    // Read once, at the first pattern that is compiled.
    qputenv("QT_ENABLE_REGEXP_JIT", QByteArrayLiteral("0"));
#endif
}

}  // namespace velmar
