#include "fingerprint.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <vector>

#include <cmath>

namespace plat {

std::uint16_t crc16Modbus(const std::string& text) {
  std::uint16_t crc = 0xFFFF;
  for (unsigned char c : text) {
    crc ^= c;
    for (int i = 0; i < 8; ++i) crc = (crc & 1) ? std::uint16_t((crc >> 1) ^ 0xA001) : std::uint16_t(crc >> 1);
  }
  return crc;
}

namespace {
// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
long long daysFromCivil(long long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = unsigned(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + (long long)doe - 719468;
}
}  // namespace

std::int32_t dateCodeOf(std::time_t t) {
  std::tm lt{};
  localtime_r(&t, &lt);
  const long long days1970 = daysFromCivil(lt.tm_year + 1900LL, unsigned(lt.tm_mon + 1), unsigned(lt.tm_mday));
  const long long days = days1970 + 25569;  // 1899-12-30 to 1970-01-01
  const double frac = (lt.tm_hour * 3600 + lt.tm_min * 60 + lt.tm_sec) / 86400.0;
  return static_cast<std::int32_t>(std::trunc((double(days) + frac) * 10000.0));
}

std::int32_t fileDateCode(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return -1;
  return dateCodeOf(st.st_mtime);
}

std::optional<std::uint32_t> fileContentCrc(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return std::nullopt;
  }
  uLong crc = crc32(0L, Z_NULL, 0);
  std::vector<unsigned char> buf(1 << 20);
  for (;;) {
    const ssize_t n = ::read(fd, buf.data(), buf.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    crc = crc32(crc, buf.data(), uInt(n));
  }
  ::close(fd);
  return std::uint32_t(crc);
}

}  // namespace plat
