#include "support/HttpExchange.h"

#include "support/EventWait.h"

#include <QSslConfiguration>
#include <QSslSocket>

namespace HttpExchange {

namespace {

Answer parse(const QByteArray& bytes)
{
    Answer answer;
    const qsizetype end = bytes.indexOf("\r\n\r\n");
    if (!bytes.startsWith("HTTP/1.") || end < 0)
        return answer;
    const QList<QByteArray> lines = bytes.left(end).split('\n');
    answer.status = lines.first().split(' ').value(1).toInt();
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0)
            answer.headers.insert(lines[i].left(colon).trimmed().toLower(),
                                  lines[i].mid(colon + 1).trimmed());
    }
    answer.body = bytes.mid(end + 4);
    return answer;
}

} // namespace

Answer send(quint16 port, const Request& request, const QString& caFile, const QString& address)
{
    QByteArray text = request.method + ' ' + request.path + " HTTP/1.1\r\nHost: " +
                      (request.host.isEmpty() ? address.toLatin1() + ':' + QByteArray::number(port)
                                              : request.host) +
                      "\r\nConnection: close\r\n";
    if (!request.user.isEmpty())
        text += "Authorization: Basic " +
                (request.user + u':' + request.password).toUtf8().toBase64() + "\r\n";
    for (const auto& [name, value] : request.headers)
        text += name + ": " + value + "\r\n";
    if (!request.body.isEmpty() || request.method == "POST")
        text += "Content-Length: " + QByteArray::number(request.body.size()) + "\r\n";
    text += "\r\n" + request.body;

    QSslSocket socket;
    if (caFile.isEmpty()) {
        socket.connectToHost(address, port);
    } else {
        QSslConfiguration tls = socket.sslConfiguration();
        tls.setCaCertificates(QSslCertificate::fromPath(caFile));
        socket.setSslConfiguration(tls);
        socket.connectToHostEncrypted(address, port);
    }
    const auto ready = [&] {
        return caFile.isEmpty() ? socket.state() == QAbstractSocket::ConnectedState
                                : socket.isEncrypted();
    };
    if (!EventWait::until(
            [&] { return ready() || socket.state() == QAbstractSocket::UnconnectedState; }) ||
        !ready())
        return {};
    socket.write(text);
    QByteArray received;
    EventWait::until([&] {
        received += socket.readAll();
        return socket.state() == QAbstractSocket::UnconnectedState;
    });
    received += socket.readAll();
    return parse(received);
}

} // namespace HttpExchange
