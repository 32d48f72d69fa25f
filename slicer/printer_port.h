#pragma once
// Direct output of a job to a printer on a serial port: raw 8N1 without
// driver flow control; the printer throttles with XOFF/XON, which the writer
// honours itself. Opened only when a job goes to the printer.
#include <functional>
#include <string>

#include "slicer/job_output.h"

namespace lt {

// The printer port used when "to file" is off: the printer's usual port, COM38.
inline const char* kDefaultPrinterPort = "/dev/ttyS37";

// Opens the device for reading and writing, exclusively, and sets the line;
// with raiseDtr DTR goes high, otherwise low. -1 (errno set) on failure.
int openPrinterPort(int baud, bool raiseDtr, const std::string& device);

class PortWriter : public JobOutput {
 public:
  struct Hooks {
    std::function<bool()> aborted;   // nothing more is sent
    std::function<bool()> stopping;  // abort or stop: a wait for the printer ends
    std::function<void()> waitTick;  // lets window events run and sleeps a little
  };
  PortWriter(int fd, std::string device, Hooks hooks);
  ~PortWriter() override;
  // Sends in pieces of at most 50 bytes, waiting before a piece until the
  // printer has taken what was sent and has not stopped the flow.
  bool write(std::string_view bytes) override;
  bool close() override;
  const std::string& error() const override { return error_; }

  bool flowStopped() const { return flowStopped_; }

 private:
  void waitForPrinter();
  void readReplies();
  bool sendAll(std::string_view piece);
  int fd_;
  std::string device_, error_;
  Hooks hooks_;
  int sinceCheck_ = 0;
  bool flowStopped_ = false;
};

}  // namespace lt
