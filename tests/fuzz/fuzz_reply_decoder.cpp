// Decoding of the board's reply: the status line, the readings and the shown temperature.
#include "FuzzCheck.h"
#include "device/BoardProtocol.h"

#include <QRegularExpression>
#include <cmath>
#include <cstdint>

namespace {

const QString StatusPrefix = QStringLiteral("ZARVIK Status : ");

void checkStatusText(const QByteArray& reply)
{
    const QString text = BoardProtocol::statusText(reply);
    FUZZ_CHECK(text.size() == StatusPrefix.size() + 4 * reply.size(), text);
    FUZZ_CHECK(text.startsWith(StatusPrefix), text);
    for (qsizetype i = 0; i < reply.size(); ++i) {
        const QStringView group = QStringView(text).sliced(StatusPrefix.size() + 4 * i, 4);
        bool ok = false;
        const uint value = group.first(3).toUInt(&ok, 16);
        FUZZ_CHECK(ok && value == quint8(reply[i]) && group[3] == u' ', text);
        FUZZ_CHECK(group.toString() == group.toString().toUpper(), text);
    }
}

void checkTemperature(std::uint16_t raw)
{
    const long double celsius = BoardProtocol::temperatureFromRaw(raw);
    const QString detail = QString::number(raw);
    FUZZ_CHECK(std::isfinite(celsius) && celsius >= 0 && celsius < 32000, detail);
    // Every step of raw * 500 / 1024 is exact in long double, whatever the order.
    FUZZ_CHECK(celsius == static_cast<long double>(raw) * 500 / 1024, detail);

    static const QRegularExpression shape(QStringLiteral("^ *[0-9]+\\.[0-9] ℃$"));
    const QString text = BoardProtocol::formatTemperature(celsius);
    FUZZ_CHECK(shape.match(text).hasMatch() && text.size() >= 6, text);
    bool ok = false;
    const double shown = text.chopped(2).trimmed().toDouble(&ok);
    FUZZ_CHECK(ok && std::fabs(shown - double(celsius)) <= 0.05 + 1e-9, text);
}

void checkApplyReply(const QByteArray& reply)
{
    const auto byteAt = [&reply](int i) { return std::uint8_t(reply[i]); };
    // Only RB1 and RB0 are inputs; the other bits of the byte mean nothing.
    const std::uint8_t inputs = byteAt(1) & (BoardProtocol::Rb1Mask | BoardProtocol::Rb0Mask);
    DeviceReadings readings;
    readings.PortBits = std::uint8_t(~inputs & 0x03);
    const QString detail = QString::fromLatin1(reply.toHex(' '));
    BoardProtocol::applyReply(readings, reply);
    FUZZ_CHECK(readings.PortBits == inputs, detail);
    FUZZ_CHECK(readings.PrevPortBits == std::uint8_t(~inputs & 0x03), detail);
    BoardProtocol::applyReply(readings, reply);
    FUZZ_CHECK(readings.PrevPortBits == inputs, detail);
    const auto raw = std::uint16_t(byteAt(4) << 8 | byteAt(5));
    FUZZ_CHECK(readings.NowTempValue == BoardProtocol::temperatureFromRaw(raw), detail);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // Only 65536 raw values exist: all of them are checked once, the inputs then add the rest.
    for (std::uint32_t raw = 0; raw <= 0xFFFF; ++raw)
        checkTemperature(std::uint16_t(raw));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    const QByteArray reply(reinterpret_cast<const char*>(data), qsizetype(size));
    checkStatusText(reply);
    if (size >= 2)
        checkTemperature(std::uint16_t(data[0] << 8 | data[1]));
    if (size == BoardProtocol::ReplySize)
        checkApplyReply(reply);
    return 0;
}
