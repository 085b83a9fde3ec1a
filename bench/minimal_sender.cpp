// The peer of the start-up, idle and memory benchmarks: about the least a Qt widget program does
// to talk to the board. One widget (a QLabel) is created, one ADC request is sent to 127.0.0.1,
// then the widget is shown, in the same order as the real program. With --poll MS it sends the
// same request every MS ms and shows each reply's bytes in the label.
//
//   minimal_sender PORT [--poll MS]
#include <QApplication>
#include <QLabel>
#include <QNetworkDatagram>
#include <QTimer>
#include <QUdpSocket>
#include <cstdio>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    bool ok = args.size() >= 2;
    const quint16 port = ok ? args[1].toUShort(&ok) : 0;
    int pollMs = 0;
    if (ok && args.size() == 4 && args[2] == QStringLiteral("--poll"))
        pollMs = args[3].toInt(&ok);
    else if (args.size() != 2)
        ok = false;
    if (!ok || port == 0 || pollMs < 0) {
        std::fprintf(stderr, "usage: minimal_sender PORT [--poll MS]\n");
        return 2;
    }

    QLabel label(QStringLiteral("Now"));
    label.resize(342, 223);
    QUdpSocket socket;
    socket.bind(QHostAddress::LocalHost, 0);
    const QByteArray request("\x04\xA1\x01", 3);
    // Loopback only, whatever the arguments say.
    const auto send = [&] { socket.writeDatagram(request, QHostAddress::LocalHost, port); };
    send();
    label.show();

    QObject::connect(&socket, &QUdpSocket::readyRead, &label, [&] {
        while (socket.hasPendingDatagrams())
            label.setText(QString::fromLatin1(socket.receiveDatagram().data().toHex(' ')));
    });
    QTimer poll;
    if (pollMs > 0) {
        QObject::connect(&poll, &QTimer::timeout, &socket, send);
        poll.start(pollMs);
    }
    return app.exec();
}
