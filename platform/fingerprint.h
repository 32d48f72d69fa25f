#pragma once
// The two inputs of a sliced job's fingerprint that the host and the slicer
// must compute identically: the CRC of the settings text and the model file's
// date code.
#include <cstdint>
#include <ctime>
#include <string>

namespace plat {

// CRC-16/MODBUS: start 0xFFFF, reflected polynomial 0xA001, no final XOR.
// "123456789" gives 0x4B37.
std::uint16_t crc16Modbus(const std::string& text);

// trunc(local date-time as days since 1899-12-30, with the time of day as
// fraction, x 10000), from whole seconds.
std::int32_t dateCodeOf(std::time_t t);

// dateCodeOf the file's modification time; -1 when the file does not exist.
std::int32_t fileDateCode(const std::string& path);

}  // namespace plat
