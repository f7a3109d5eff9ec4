#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

namespace velmar::detail {

struct HttpGetResult {
    int status = 0;          // the server's HTTP status; 0 when no server answered
    bool completed = false;  // the whole body arrived and nothing failed on the way
};

// One plain GET, never answered from a cache, run to its end on the calling thread with a
// local event loop (no window and no running event loop needed). Each piece of the body goes
// to onData as it arrives; onData returns false to stop the transfer there.
HttpGetResult httpGet(const QString &url, const std::function<bool(const QByteArray &)> &onData);

}  // namespace velmar::detail
