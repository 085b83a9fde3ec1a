#include "support/FreePort.h"

#include <QRandomGenerator>
#include <QTcpServer>

quint16 freePort()
{
    for (int tries = 0; tries < 100; ++tries) {
        QTcpServer probe; // closed again at once
        const auto port = quint16(QRandomGenerator::global()->bounded(20000, 32000));
        if (probe.listen(QHostAddress::LocalHost, port))
            return port;
    }
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}
