#include "HttpGet.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

#include <memory>

namespace velmar::detail {

namespace {

constexpr auto kAgent = "velmar";
// Without this a silent server would hold the start-up forever; the limit is on silence, not
// on the length of a transfer.
constexpr int kIdleTimeoutMs = 60 * 1000;

// The proxy the system is configured with, as the platform's own internet calls use it.
class SystemProxies : public QNetworkProxyFactory {
public:
    QList<QNetworkProxy> queryProxy(const QNetworkProxyQuery &query) override
    {
        return systemProxyForQuery(query);
    }
};

}  // namespace

HttpGetResult httpGet(const QString &url, const std::function<bool(const QByteArray &)> &onData)
{
    QNetworkAccessManager manager;
    manager.setProxyFactory(new SystemProxies);

    QNetworkRequest request{QUrl(url)};
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setRawHeader("Cache-Control", "no-cache");
    request.setRawHeader("Pragma", "no-cache");
    request.setHeader(QNetworkRequest::UserAgentHeader, QByteArray(kAgent));
    request.setTransferTimeout(kIdleTimeoutMs);

    std::unique_ptr<QNetworkReply> reply(manager.get(request));
    QEventLoop loop;
    bool stopped = false;
    auto deliver = [&] {
        if (stopped)
            return;
        const QByteArray piece = reply->readAll();
        if (!piece.isEmpty() && !onData(piece)) {
            stopped = true;
            loop.quit();
        }
    };
    QObject::connect(reply.get(), &QNetworkReply::readyRead, &loop, deliver);
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (!reply->isFinished())
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    deliver();

    HttpGetResult result;
    result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    result.completed = !stopped && reply->isFinished() && reply->error() == QNetworkReply::NoError;
    if (!reply->isFinished()) {
        QObject::disconnect(reply.get(), nullptr, &loop, nullptr);
        reply->abort();
    }
    return result;
}

}  // namespace velmar::detail
