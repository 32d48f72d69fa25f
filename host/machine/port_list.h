#pragma once
// The computer's serial ports as the kernel lists them in /sys/class/tty.
// The roots are arguments, so tests list a fake tree.
#include <string>
#include <vector>

namespace ph {

struct SerialPortEntry {
  std::string kernelName;  // "ttyUSB0"
  std::string device;      // devRoot + "/" + kernelName
  // The name the host shows and stores: the stable /dev/serial/by-id name
  // when one leads to the port (it survives replugging into another
  // socket), else `device`.
  std::string name;
};

// Every tty with a device link (real hardware; virtual consoles and
// pseudo-terminals have none), without the legacy UART slots the kernel
// always makes whether or not a chip answers there (their "type" reads 0).
// Sorted by kernel name, numbers in numeric order (ttyS2 before ttyS10).
// A /sys that cannot be read gives an empty list.
std::vector<SerialPortEntry> listSerialPorts(const std::string& sysRoot = "/sys", const std::string& devRoot = "/dev");

}  // namespace ph
