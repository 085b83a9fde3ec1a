#pragma once

#include "device/DeviceReadings.h"
#include "device/Reading.h"

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
// One reply of ReplySize bytes as a value: temperature from b4/b5, RB1 and RB0 from b1. Its time
// is left for the caller to stamp.
Reading decodeReply(const QByteArray& reply);
// The reading becomes the latest; the input bits it replaces become the previous ones.
void applyReading(DeviceReadings& readings, const Reading& reading);
// decodeReply(), then applyReading().
void applyReply(DeviceReadings& readings, const QByteArray& reply);

} // namespace BoardProtocol
