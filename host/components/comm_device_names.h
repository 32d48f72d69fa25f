#pragma once
// Device names of serial ports. Settings files written on Windows name
// ports "COM3" or "\\.\COM30"; here such a name maps through a small table
// to a device path, by default /dev/ttyS(n-1). "/dev/..." paths and every
// other name are used as they are.
#include <map>
#include <mutex>
#include <string>

namespace ph {

class CommDeviceNames {
 public:
  // COMn opens `path` from now on.
  void map(int n, const std::string& path);
  void clear();
  std::string resolve(const std::string& name) const;

 private:
  mutable std::mutex m_;
  std::map<int, std::string> table_;
};

// The program's table, used by every serial component.
CommDeviceNames& commDeviceNames();

// The port number of "COMn", "\\.\COMn" or "//./COMn" (any case), or 0
// when the name is no such port.
int comPortNumber(const std::string& name);

}  // namespace ph
