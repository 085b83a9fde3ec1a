// The simulated board as the other tests see it: real UDP on 127.0.0.1, driven through SimBoard.
#include "support/SimBoard.h"
#include "support/TestPaths.h"

#include <QNetworkDatagram>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QUdpSocket>
#include <memory>

namespace {
const QByteArray AdcRequest = QByteArray::fromHex("04A101");

QByteArray replyBytes(int raw, int bits)
{
    QByteArray bytes(8, '\0');
    bytes[1] = static_cast<char>(bits);
    bytes[4] = static_cast<char>(raw >> 8);
    bytes[5] = static_cast<char>(raw & 0xff);
    return bytes;
}

// Waits for one datagram; a null array means none came.
QByteArray receive(QUdpSocket& socket, int timeoutMs = 5000)
{
    if (!socket.hasPendingDatagrams() &&
        !QSignalSpy(&socket, &QUdpSocket::readyRead).wait(timeoutMs))
        return {};
    const QNetworkDatagram datagram = socket.receiveDatagram();
    return datagram.isValid() ? datagram.data() : QByteArray();
}
} // namespace

class TestSimBoard : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup() { m_sim.reset(); }

    void replies_data();
    void replies();
    void replySize_data();
    void replySize();
    void silentStillRecordsRequests();
    void pushGoesToLastRequester();
    void pushToRefusesOtherHosts();
    void badCommandsAnswerError_data();
    void badCommandsAnswerError();
    void badArgumentsExit2_data();
    void badArgumentsExit2();

private:
    QByteArray ask(QUdpSocket& socket, const QByteArray& request);

    std::unique_ptr<SimBoard> m_sim;
    QUdpSocket m_socket;
};

void TestSimBoard::init()
{
    m_sim = std::make_unique<SimBoard>();
    QVERIFY(m_sim->start());
    QCOMPARE(m_sim->address(), QHostAddress(QHostAddress::LocalHost));
    QVERIFY(m_sim->port() != 0);
    m_socket.close();
    QVERIFY(m_socket.bind(QHostAddress::LocalHost, 0));
}

QByteArray TestSimBoard::ask(QUdpSocket& socket, const QByteArray& request)
{
    socket.writeDatagram(request, m_sim->address(), m_sim->port());
    return receive(socket);
}

void TestSimBoard::replies_data()
{
    QTest::addColumn<QStringList>("commands");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("reply");

    QTest::newRow("default 25.0 C") << QStringList() << AdcRequest << replyBytes(51, 0);
    QTest::newRow("146.484375 C is raw 300")
        << QStringList{"temp 146.484375", "bits 3"} << AdcRequest
        << QByteArray::fromHex("00030000012C0000");
    QTest::newRow("below zero clamps") << QStringList{"temp -40"} << AdcRequest << replyBytes(0, 0);
    QTest::newRow("too hot clamps")
        << QStringList{"temp 1e6"} << AdcRequest << replyBytes(65535, 0);
    QTest::newRow("raw and hex bits")
        << QStringList{"raw 4660", "bits 0x02"} << AdcRequest << replyBytes(0x1234, 2);
    QTest::newRow("single inputs")
        << QStringList{"bits 3", "rb1 0", "rb0 1"} << AdcRequest << replyBytes(51, 1);
    QTest::newRow("status request")
        << QStringList{"bits 2"} << QByteArray(1, '\0') << replyBytes(51, 2);
}

void TestSimBoard::replies()
{
    QFETCH(QStringList, commands);
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, reply);

    for (const QString& command : commands)
        QVERIFY2(m_sim->command(command), qPrintable(m_sim->lastAnswer()));
    QCOMPARE(ask(m_socket, request), reply);

    QVERIFY(m_sim->waitForRequests(1, 5000));
    const SimBoard::Request seen = m_sim->requests().constFirst();
    QCOMPARE(seen.bytes, request);
    QCOMPARE(seen.address, QHostAddress(QHostAddress::LocalHost));
    QCOMPARE(seen.port, m_socket.localPort());
    QVERIFY(seen.ms >= 0);
}

void TestSimBoard::replySize_data()
{
    QTest::addColumn<int>("size");
    QTest::newRow("truncated") << 5;
    QTest::newRow("padded") << 12;
    QTest::newRow("largest") << 65507;
}

void TestSimBoard::replySize()
{
    QFETCH(int, size);
    QVERIFY(m_sim->setRaw(300));
    QVERIFY(m_sim->setReplySize(size));
    const QByteArray normal = replyBytes(300, 0);
    QCOMPARE(ask(m_socket, AdcRequest), normal.left(size) + QByteArray(qMax(0, size - 8), '\0'));

    QVERIFY(m_sim->setReplySize(8));
    QCOMPARE(ask(m_socket, AdcRequest), normal);
}

void TestSimBoard::silentStillRecordsRequests()
{
    QVERIFY(m_sim->setSilent(true));
    m_socket.writeDatagram(AdcRequest, m_sim->address(), m_sim->port());
    QVERIFY(m_sim->waitForRequests(1, 5000));
    QVERIFY(receive(m_socket, 300).isNull());

    QVERIFY(m_sim->setSilent(false));
    QCOMPARE(ask(m_socket, AdcRequest), replyBytes(51, 0));
    // Anything that is not a board request is recorded but never answered.
    m_socket.writeDatagram(QByteArray("hello"), m_sim->address(), m_sim->port());
    QVERIFY(m_sim->waitForRequests(3, 5000));
    QCOMPARE(m_sim->requests().at(2).bytes, QByteArray("hello"));
    QVERIFY(receive(m_socket, 300).isNull());
}

void TestSimBoard::pushGoesToLastRequester()
{
    QVERIFY(!m_sim->push());
    QCOMPARE(m_sim->lastAnswer(), QStringLiteral("error no requester yet"));

    QUdpSocket other;
    QVERIFY(other.bind(QHostAddress::LocalHost, 0));
    QCOMPARE(ask(m_socket, AdcRequest).size(), 8);
    QCOMPARE(ask(other, AdcRequest).size(), 8);
    QVERIFY(m_sim->setBits(1));
    QVERIFY(m_sim->push(3));
    QCOMPARE(receive(other), QByteArray::fromHex("000100"));
    QVERIFY(!m_socket.hasPendingDatagrams());

    QVERIFY(m_sim->pushTo(QHostAddress::LocalHost, m_socket.localPort()));
    QCOMPARE(receive(m_socket), replyBytes(51, 1));
}

void TestSimBoard::pushToRefusesOtherHosts()
{
    // 0.0.0.0 is not loopback to the simulator, yet it would still stay on this machine.
    QVERIFY(!m_sim->pushTo(QHostAddress::AnyIPv4, m_socket.localPort()));
    QVERIFY(m_sim->lastAnswer().startsWith(QStringLiteral("error not a loopback address")));
    QVERIFY(receive(m_socket, 300).isNull());
}

void TestSimBoard::badCommandsAnswerError_data()
{
    QTest::addColumn<QString>("command");
    const char* commands[] = {"wat",
                              "temp hot",
                              "temp nan",
                              "raw 65536",
                              "bits 256",
                              "bits 0x",
                              "rb1 2",
                              "size 65508",
                              "size -1",
                              "silent maybe",
                              "push 1 2",
                              "pushto 127.0.0.1",
                              "pushto nowhere 5000",
                              "pushto 127.0.0.1 0"};
    for (const char* command : commands)
        QTest::newRow(command) << QString::fromLatin1(command);
}

void TestSimBoard::badCommandsAnswerError()
{
    QFETCH(QString, command);
    QVERIFY(m_sim->setRaw(300));
    QVERIFY(!m_sim->command(command));
    QVERIFY2(m_sim->lastAnswer().startsWith(QStringLiteral("error ")),
             qPrintable(m_sim->lastAnswer()));
    QCOMPARE(ask(m_socket, AdcRequest), replyBytes(300, 0));
}

void TestSimBoard::badArgumentsExit2_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("unknown option") << QStringList{"--colour"};
    QTest::newRow("port out of range") << QStringList{"--port", "65536"};
    QTest::newRow("bad bits") << QStringList{"--bits", "x"};
    QTest::newRow("bad address") << QStringList{"--bind", "no.such.host"};
    QTest::newRow("port taken") << QStringList{"--port", "taken"};
}

void TestSimBoard::badArgumentsExit2()
{
    QFETCH(QStringList, arguments);
    arguments.replaceInStrings(QStringLiteral("taken"), QString::number(m_socket.localPort()));
    QProcess process;
    process.start(TestPaths::simulator(), arguments);
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 2);
    QVERIFY(!process.readAllStandardError().isEmpty());
}

QTEST_GUILESS_MAIN(TestSimBoard)
#include "tst_simboard.moc"
