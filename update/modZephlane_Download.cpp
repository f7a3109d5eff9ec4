#include "modZephlane_Download.h"

#include "HttpGet.h"

namespace velmar {

namespace {
constexpr qsizetype kReadSize = 20;
}  // namespace

QString ReadUrlText(const QString &url)
{
    QByteArray received;
    const detail::HttpGetResult result = detail::httpGet(url, [&](const QByteArray &piece) {
        received += piece;
        return received.size() < kReadSize;
    });
    if (result.status == 0)
        return {};
    received.truncate(kReadSize);

    // The read goes into a buffer of blanks; as many characters are kept as bytes arrived. The
    // server's text is UTF-8, whatever the machine's code page.
    QByteArray buffer(kReadSize, ' ');
    buffer.replace(0, received.size(), received);
    return QString::fromUtf8(buffer).left(received.size());
}

}  // namespace velmar
