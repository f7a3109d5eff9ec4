#include "LocalHttpServer.h"

#include <QTcpSocket>

namespace velmar::test {

namespace {

QByteArray reason(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    default:
        return "Status";
    }
}

}  // namespace

LocalHttpServer::LocalHttpServer()
{
    if (!m_server.listen(QHostAddress::LocalHost))
        qFatal("LocalHttpServer: %s", qPrintable(m_server.errorString()));
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { answer(socket); });
        }
    });
}

QString LocalHttpServer::url(const QString &path) const
{
    return QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path);
}

void LocalHttpServer::setReply(const QString &path, const Reply &reply)
{
    m_replies.insert(path, reply);
}

QStringList LocalHttpServer::requestedPaths() const
{
    QStringList paths;
    for (const Request &r : m_requests)
        paths << r.path;
    return paths;
}

quint16 LocalHttpServer::closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

void LocalHttpServer::answer(QTcpSocket *socket)
{
    // The whole head is small; wait until it is all there.
    QByteArray head = socket->property("head").toByteArray() + socket->readAll();
    socket->setProperty("head", head);
    if (!head.contains("\r\n\r\n") || socket->property("answered").toBool())
        return;
    socket->setProperty("answered", true);

    const QList<QByteArray> lines = head.left(head.indexOf("\r\n\r\n")).split('\n');
    Request request;
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    request.path = QString::fromUtf8(requestLine.value(1));
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines.at(i).indexOf(':');
        if (colon > 0)
            request.headers.insert(lines.at(i).left(colon).trimmed().toLower(),
                                   lines.at(i).mid(colon + 1).trimmed());
    }
    m_requests << request;

    const Reply reply = m_replies.value(request.path, Reply{404, "<html>not found</html>", false});
    const qsizetype announced = reply.body.size() + (reply.cutShort ? 1000 : 0);
    QByteArray out = "HTTP/1.1 " + QByteArray::number(reply.status) + ' ' + reason(reply.status)
                     + "\r\nContent-Type: application/octet-stream\r\nContent-Length: "
                     + QByteArray::number(announced) + "\r\nConnection: close\r\n\r\n" + reply.body;
    socket->write(out);
    socket->disconnectFromHost();
}

}  // namespace velmar::test
