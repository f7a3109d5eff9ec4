#pragma once

#include <QString>

namespace velmar {

// The first bytes (at most 20) of the resource at url, as text; empty when anything fails.
// Always asks the server itself, never a cache. The reply's status is not looked at: whatever
// body a server answers with counts as the text.
QString ReadUrlText(const QString &url);

}  // namespace velmar
