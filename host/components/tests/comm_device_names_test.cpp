#include "host/components/comm_device_names.h"

#include <gtest/gtest.h>

using namespace ph;

TEST(CommDeviceNames, WindowsPortNamesMapToDevicePaths) {
  CommDeviceNames names;
  names.map(30, "/dev/ttyACM0");
  struct Case {
    const char* name;
    const char* path;
  } cases[] = {
      {"COM1", "/dev/ttyS0"},
      {"com2", "/dev/ttyS1"},
      {"Com12", "/dev/ttyS11"},
      {"\\\\.\\COM30", "/dev/ttyACM0"},  // the table wins over the default
      {"//./COM3", "/dev/ttyS2"},
      {"/dev/ttyUSB0", "/dev/ttyUSB0"},  // paths stay as they are
      {"/dev/COM3", "/dev/COM3"},
      {"COM0", "COM0"},  // no such port: left for the open to refuse
      {"COM", "COM"},
      {"COM3x", "COM3x"},
      {"COMPORT", "COMPORT"},
  };
  for (const Case& c : cases) EXPECT_EQ(names.resolve(c.name), c.path) << c.name;
  names.clear();
  EXPECT_EQ(names.resolve("COM30"), "/dev/ttyS29");
}
