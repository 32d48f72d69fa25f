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
  port_.OnError = [this](TThreadCComm&, std::uint32_t errors) {
    if ((errors & ce::Ioe) && onEvent) onEvent(LinkEvent::Disconnected, 0);
  };
}

CommByteLink::~CommByteLink() {
  port_.OnRxChar = nullptr;
  port_.OnError = nullptr;
}

int CommByteLink::write(const std::uint8_t* data, int count) {
  int n = port_.Write(data, count);
  return n < 0 ? 0 : n;
}

int CommByteLink::outQueueCount() const {
  int n = port_.OutQueCount();
  return n < 0 ? 0 : n;
}

void CommByteLink::setDevice(const std::string& device, int baud) {
  port_.SetDeviceName(device);
  port_.SetBaudRate(TCBaudRate::brcustom);
  port_.SetCustomBaudRate(baud);
}

std::string CommByteLink::open() {
  try {
    port_.Open();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "";
}

}  // namespace ph
