#pragma once
// A byte link to one machine: the serial component, a TCP client and the
// test fake all look like this to the machine-control code.
#include <cstddef>
#include <cstdint>
#include <functional>

namespace ph {

class ByteLink {
 public:
  virtual ~ByteLink() = default;
  virtual bool isOpen() const = 0;
  // Queues bytes for sending; returns how many were taken.
  virtual int write(const std::uint8_t* data, int count) = 0;
  // Clear to send: false while the machine holds the sender off.
  virtual bool cts() const = 0;
  // Bytes written but not yet sent.
  virtual int outQueueCount() const = 0;
  // Called on the user-interface thread with the bytes that arrived.
  std::function<void(const std::uint8_t* data, int count)> onReceive;
};

}  // namespace ph
