#pragma once
// A serial component seen as a ByteLink by the machine-control code.
#include "host/components/byte_link.h"
#include "host/components/comm_cust.h"

namespace ph {

class CommByteLink : public SerialByteLink {
 public:
  // Takes over the port's OnRxChar (received bytes go to onReceive) and its
  // OnError (a device that went away is reported as Disconnected).
  explicit CommByteLink(TCommCust& port);
  ~CommByteLink() override;

  bool isOpen() const override { return port_.Enabled(); }
  int write(const std::uint8_t* data, int count) override;
  bool cts() const override { return port_.GetModemState(1); }
  // A closed port has nothing waiting.
  int outQueueCount() const override;

  void setDevice(const std::string& device, int baud) override;
  void setFlowControl(TFlowControl flow) override { port_.SetFlowControl(flow); }
  std::string open() override;
  void close() override { port_.Close(); }
  std::string deviceName() const override { return port_.DeviceName(); }

  TCommCust& port() { return port_; }

 private:
  TCommCust& port_;
};

}  // namespace ph
