#include "host/components/comm_byte_link.h"

#include <algorithm>
#include <cstdint>

namespace ph {

CommByteLink::CommByteLink(TCommCust& port) : port_(port) {
  port_.OnRxChar = [this](TThreadCComm& sender, std::uint32_t count) {
    std::uint8_t buf[4096];
    int left = static_cast<int>(count);
    while (left > 0 && sender.Enabled()) {
      int n = sender.Read(buf, std::min(left, static_cast<int>(sizeof buf)));
      if (n <= 0) break;
      left -= n;
      if (onReceive) onReceive(buf, n);
    }
  };
}

CommByteLink::~CommByteLink() { port_.OnRxChar = nullptr; }

int CommByteLink::write(const std::uint8_t* data, int count) {
  int n = port_.Write(data, count);
  return n < 0 ? 0 : n;
}

}  // namespace ph
