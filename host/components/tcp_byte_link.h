#pragma once
// A TCP client link to a machine (a serial server or a networked unit), on
// QTcpSocket. It runs on the thread that owns it (the user-interface
// thread) and needs that thread's Qt event loop; the socket is made on the
// first connect, so an unused link needs no Qt application.
#include <memory>
#include <string>
#include <vector>

#include "host/components/byte_link.h"

class QTcpSocket;

namespace ph {

class TcpByteLink : public SocketByteLink {
 public:
  // Bytes written before the connection is up wait here; a block is taken
  // only while the buffer stays below this size.
  static constexpr int kPendingLimit = 1000;
  // Received data is handed on in blocks of at most this size, until the
  // socket has nothing more.
  static constexpr int kReadBlock = 999;

  TcpByteLink();
  ~TcpByteLink() override;
  TcpByteLink(const TcpByteLink&) = delete;
  TcpByteLink& operator=(const TcpByteLink&) = delete;

  void setAddress(const std::string& host, int port) override;
  const std::string& host() const { return host_; }
  int port() const { return port_; }
  void setActive(bool on) override;
  bool active() const override;

  // Connected.
  bool isOpen() const override;
  // Connected: sent (the socket buffers); otherwise buffered when it fits
  // (0 when it does not) and a connect is started.
  int write(const std::uint8_t* data, int count) override;
  bool cts() const override { return true; }
  // Connected: bytes the socket has not sent; connecting: the bytes
  // waiting for the connection; inactive: 0.
  int outQueueCount() const override;

 private:
  void makeSocket();
  void connected();
  void readAll();

  std::unique_ptr<QTcpSocket> socket_;
  std::string host_;
  int port_ = 0;
  std::vector<std::uint8_t> pending_;
};

}  // namespace ph
