// The peer of the service's start-up, idle and memory benchmarks: about the least a program
// without widgets does to talk to the board. Qt Core and Qt Network only: a QCoreApplication,
// one ADC request sent to 127.0.0.1. With --poll MS it sends the same request every MS ms and
// keeps the last reply's bytes.
//
//   minimal_core_sender PORT [--poll MS]
#include <QCoreApplication>
#include <QNetworkDatagram>
#include <QTimer>
#include <QUdpSocket>
#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    bool ok = args.size() >= 2;
    const quint16 port = ok ? args[1].toUShort(&ok) : 0;
    int pollMs = 0;
    if (ok && args.size() == 4 && args[2] == QStringLiteral("--poll"))
        pollMs = args[3].toInt(&ok);
    else if (args.size() != 2)
        ok = false;
    if (!ok || port == 0 || pollMs < 0) {
        std::fprintf(stderr, "usage: minimal_core_sender PORT [--poll MS]\n");
        return 2;
    }

    QUdpSocket socket;
    socket.bind(QHostAddress::LocalHost, 0);
    const QByteArray request("\x04\xA1\x01", 3);
    // Loopback only, whatever the arguments say.
    const auto send = [&] { socket.writeDatagram(request, QHostAddress::LocalHost, port); };
    send();

    // Decoded as the window's peer shows it, so that a reply costs both peers the same.
    QString last;
    QObject::connect(&socket, &QUdpSocket::readyRead, &socket, [&] {
        while (socket.hasPendingDatagrams())
            last = QString::fromLatin1(socket.receiveDatagram().data().toHex(' '));
    });
    QTimer poll;
    if (pollMs > 0) {
        QObject::connect(&poll, &QTimer::timeout, &socket, send);
        poll.start(pollMs);
    }
    return app.exec();
}
