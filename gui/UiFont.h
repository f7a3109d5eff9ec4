#pragma once

#include <QFont>

namespace velmar {

// The windows' font: 굴림 (Gulim) 9 pt, or an installed Korean font where Gulim is absent, so
// that Hangul renders everywhere. bold for the captions and labels that stand out.
QFont uiFont(bool bold = false);

}  // namespace velmar
