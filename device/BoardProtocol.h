#pragma once

#include "device/DeviceReadings.h"

#include <QByteArray>
#include <QString>
#include <cstdint>

// The board's UDP protocol: the requests it understands and the decoding of its 8-byte reply.
namespace BoardProtocol {

inline constexpr int ReplySize = 8;
inline constexpr std::uint8_t TemperatureChannel = 0xA1;
inline constexpr std::uint8_t Rb1Mask = 0x02;
inline constexpr std::uint8_t Rb0Mask = 0x01;

QByteArray adcRequest(std::uint8_t selector); // 04 selector 01
QByteArray statusRequest();                   // 00

// "ZARVIK Status : " then each byte as three upper-case hex digits and a space.
QString statusText(const QByteArray& reply);
// raw / 1024 * 500, divided first, in extended precision.
long double temperatureFromRaw(std::uint16_t raw);
// "%4.1f ℃"
QString formatTemperature(long double celsius);
// Applies one reply of ReplySize bytes: temperature from b4/b5, input bits from b1.
void applyReply(DeviceReadings& readings, const QByteArray& reply);

} // namespace BoardProtocol
