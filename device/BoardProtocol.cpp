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

Reading decodeReply(const QByteArray& reply)
{
    const auto byteAt = [&reply](int i) { return std::uint8_t(reply.at(i)); };
    Reading reading;
    reading.temperature = temperatureFromRaw(std::uint16_t(byteAt(4) * 256 + byteAt(5)));
    reading.rb1 = byteAt(1) & Rb1Mask;
    reading.rb0 = byteAt(1) & Rb0Mask;
    reading.raw = reply;
    return reading;
}

void applyReading(DeviceReadings& readings, const Reading& reading)
{
    readings.NowTempValue = reading.temperature;
    readings.PrevPortBits = readings.PortBits;
    readings.PortBits = (reading.rb1 ? Rb1Mask : 0) | (reading.rb0 ? Rb0Mask : 0);
    readings.HaveReply = true;
}

void applyReply(DeviceReadings& readings, const QByteArray& reply)
{
    applyReading(readings, decodeReply(reply));
}

} // namespace BoardProtocol
