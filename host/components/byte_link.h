#pragma once
// A byte link to one machine: the serial component, a TCP client and the
// test fake all look like this to the machine-control code.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "host/components/comm_types.h"

namespace ph {

// What a transport reports besides data. A TCP client reports all four; a
// serial line reports Disconnected when its device goes away.
enum class LinkEvent { Connecting, Connected, Disconnected, Error };

// A link's error number in words for the operator ("connection refused").
std::string linkErrorText(int code);

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
  // Called on the user-interface thread; code is the error number of an
  // Error (0 otherwise).
  std::function<void(LinkEvent event, int code)> onEvent;
};

// A serial line as the machine links open it.
class SerialByteLink : public ByteLink {
 public:
  // Device and line speed for the next open; baud 0 leaves the line
  // settings as the driver has them.
  virtual void setDevice(const std::string& device, int baud) = 0;
  virtual void setFlowControl(TFlowControl flow) = 0;
  // isOpen() tells whether it opened; the text is the component's error
  // message ("" when it raised none).
  virtual std::string open() = 0;
  virtual void close() = 0;
  virtual std::string deviceName() const = 0;
};

// A TCP client. It has no modem lines: cts() is always true. Bytes written
// before the connection is up wait in a small buffer and go out on connect;
// write() returns 0 for a block that no longer fits.
class SocketByteLink : public ByteLink {
 public:
  virtual void setAddress(const std::string& host, int port) = 0;
  // Active: connecting or connected. A write while inactive activates.
  virtual void setActive(bool on) = 0;
  virtual bool active() const = 0;
};

}  // namespace ph
