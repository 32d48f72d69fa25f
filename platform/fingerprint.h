#pragma once
// The inputs of a sliced job's fingerprint that the host and the slicer must
// compute identically: the CRC of the settings text, the model file's date
// code and the CRC of its content.
#include <cstdint>
#include <ctime>
#include <optional>
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

// CRC-32 (zlib's) of the whole content of a regular file: a model changed
// in its colours alone keeps its size and may keep its date code, never its
// content. Nothing when the file is not a regular file or cannot be read
// (opened without waiting, so a FIFO never blocks).
std::optional<std::uint32_t> fileContentCrc(const std::string& path);

}  // namespace plat
