#pragma once
// A serial component seen as a ByteLink by the machine-control code.
#include "host/components/byte_link.h"
#include "host/components/comm_cust.h"

namespace ph {

class CommByteLink : public ByteLink {
 public:
  // Takes over the port's OnRxChar: received bytes go to onReceive.
  explicit CommByteLink(TCommCust& port);
  ~CommByteLink() override;

  bool isOpen() const override { return port_.Enabled(); }
  int write(const std::uint8_t* data, int count) override;
  bool cts() const override { return port_.GetModemState(1); }
  int outQueueCount() const override { return port_.OutQueCount(); }

 private:
  TCommCust& port_;
};

}  // namespace ph
