#include "device/BoardProtocol.h"

#include <QtTest>

class TestBoardProtocol : public QObject {
    Q_OBJECT
private slots:
    void requestsOnTheWire();
    void temperatureFromRaw_data();
    void temperatureFromRaw();
    void statusText();
    void applyReplyShiftsInputBits();
};

void TestBoardProtocol::requestsOnTheWire()
{
    QCOMPARE(BoardProtocol::adcRequest(0xA1), QByteArray::fromHex("04a101"));
    QCOMPARE(BoardProtocol::adcRequest(0x00), QByteArray::fromHex("040001"));
    QCOMPARE(BoardProtocol::statusRequest(), QByteArray::fromHex("00"));
}

void TestBoardProtocol::temperatureFromRaw_data()
{
    QTest::addColumn<int>("raw");
    QTest::addColumn<double>("celsius");
    QTest::addColumn<QString>("shown");

    QTest::newRow("zero") << 0 << 0.0 << QStringLiteral(" 0.0 ℃");
    QTest::newRow("300") << 300 << 146.484375 << QStringLiteral("146.5 ℃");
    // Exactly halfway: the C library rounds the exact binary value half to even.
    QTest::newRow("64 halfway") << 64 << 31.25 << QStringLiteral("31.2 ℃");
    QTest::newRow("1023") << 1023 << 499.51171875 << QStringLiteral("499.5 ℃");
    QTest::newRow("65535 not clipped") << 65535 << 31999.51171875 << QStringLiteral("31999.5 ℃");
    QTest::newRow("five degrees") << 10 << 4.8828125 << QStringLiteral(" 4.9 ℃");
}

void TestBoardProtocol::temperatureFromRaw()
{
    QFETCH(int, raw);
    QFETCH(double, celsius);
    QFETCH(QString, shown);
    const long double value = BoardProtocol::temperatureFromRaw(std::uint16_t(raw));
    QCOMPARE(double(value), celsius);
    QCOMPARE(BoardProtocol::formatTemperature(value), shown);
}

void TestBoardProtocol::statusText()
{
    QCOMPARE(BoardProtocol::statusText(QByteArray::fromHex("00030000012c0000")),
             QStringLiteral("ZARVIK Status : 000 003 000 000 001 02C 000 000 "));
    QCOMPARE(BoardProtocol::statusText(QByteArray::fromHex("ff7f80000affab01")),
             QStringLiteral("ZARVIK Status : 0FF 07F 080 000 00A 0FF 0AB 001 "));
}

void TestBoardProtocol::applyReplyShiftsInputBits()
{
    DeviceReadings readings;
    BoardProtocol::applyReply(readings, QByteArray::fromHex("00030000012c0000"));
    QCOMPARE(double(readings.NowTempValue), 146.484375);
    QCOMPARE(readings.PortBits, 0x03);
    QCOMPARE(readings.PrevPortBits, 0x00);

    // Bits beside RB1 and RB0 are not inputs.
    BoardProtocol::applyReply(readings, QByteArray::fromHex("fffdffff0000ffff"));
    QCOMPARE(double(readings.NowTempValue), 0.0);
    QCOMPARE(readings.PortBits, 0x01);
    QCOMPARE(readings.PrevPortBits, 0x03);
}

QTEST_GUILESS_MAIN(TestBoardProtocol)
#include "tst_boardprotocol.moc"
