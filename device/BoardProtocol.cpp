#include "device/BoardProtocol.h"

#include <cstdio>

namespace BoardProtocol {

QByteArray adcRequest(std::uint8_t selector)
{
    return QByteArray::fromRawData("\x04", 1) + char(selector) + char(0x01);
}

QByteArray statusRequest()
{
    return QByteArray(1, '\0');
}

QString statusText(const QByteArray& reply)
{
    QString text = QStringLiteral("ZARVIK Status : ");
    for (const char byte : reply)
        text += QStringLiteral("%1 ").arg(quint8(byte), 3, 16, QLatin1Char('0')).toUpper();
    return text;
}

long double temperatureFromRaw(std::uint16_t raw)
{
    // The board's scale constants are single-precision values; the arithmetic is extended.
    constexpr float adcFullScale = 1024.0f;
    constexpr float celsiusFullScale = 500.0f;
    return static_cast<long double>(raw) / adcFullScale * celsiusFullScale;
}

QString formatTemperature(long double celsius)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%4.1Lf", celsius);
    return QString::fromLatin1(buffer) + QStringLiteral(" ℃");
}

void applyReply(DeviceReadings& readings, const QByteArray& reply)
{
    const auto byteAt = [&reply](int i) { return std::uint8_t(reply.at(i)); };
    readings.NowTempValue = temperatureFromRaw(std::uint16_t(byteAt(4) * 256 + byteAt(5)));
    readings.PrevPortBits = readings.PortBits;
    readings.PortBits = byteAt(1);
    readings.HaveReply = true;
}

} // namespace BoardProtocol
