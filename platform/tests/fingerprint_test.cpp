#include "platform/fingerprint.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

using namespace plat;

TEST(Fingerprint, Crc16Modbus) {
  EXPECT_EQ(crc16Modbus("123456789"), 0x4B37);
  EXPECT_EQ(crc16Modbus(""), 0xFFFF);
}

TEST(Fingerprint, DateCodeTable) {
  setenv("TZ", "UTC", 1);
  tzset();
  struct Case {
    std::time_t t;
    std::int32_t code;
  };
  const Case cases[] = {
      {0, 255690000},            // 1970-01-01 00:00
      {43200, 255695000},        // noon: half a day
      {1700000000, 452449259},   // 2023-11-14 22:13:20 = 45244.9259..
      {-2209161600LL, 0},        // 1899-12-30 itself
  };
  for (const auto& c : cases) EXPECT_EQ(dateCodeOf(c.t), c.code) << c.t;
  unsetenv("TZ");
  tzset();
}

TEST(Fingerprint, ContentCrcSeesEveryByteAndOnlyRegularFiles) {
  const std::string path = ::testing::TempDir() + "crc." + std::to_string(::getpid());
  {
    std::ofstream f(path, std::ios::binary);
    f << "123456789";
  }
  EXPECT_EQ(fileContentCrc(path), 0xCBF43926u);  // the CRC-32 check value
  {
    std::ofstream f(path, std::ios::binary);
    f << "123456780";  // same size, one byte other
  }
  EXPECT_NE(fileContentCrc(path), 0xCBF43926u);
  std::remove(path.c_str());
  EXPECT_FALSE(fileContentCrc(path));
  EXPECT_FALSE(fileContentCrc("/dev/zero"));
  EXPECT_FALSE(fileContentCrc("/"));
}
