#pragma once

#include <cstdint>

// The latest readings from the board, kept for the whole run and read by the alert pass.
struct DeviceReadings {
    long double NowTempValue = 0.0L; // last decoded temperature, degrees Celsius
    std::uint8_t PortBits = 0;       // inputs of the latest reply: 0x02 RB1, 0x01 RB0
    std::uint8_t PrevPortBits = 0;   // input byte of the reply before it
    bool HaveReply = false;          // a correct reply has been decoded in this run
};
