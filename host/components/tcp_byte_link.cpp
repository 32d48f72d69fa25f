#include "host/components/tcp_byte_link.h"

#include <QTcpSocket>
#include <cerrno>
#include <cstring>

namespace ph {

namespace {
// The socket error as the error number a socket call would have given.
int errorNumber(QAbstractSocket::SocketError e) {
  switch (e) {
    case QAbstractSocket::ConnectionRefusedError: return ECONNREFUSED;
    case QAbstractSocket::RemoteHostClosedError: return ECONNRESET;
    case QAbstractSocket::HostNotFoundError: return EHOSTUNREACH;
    case QAbstractSocket::SocketAccessError: return EACCES;
    case QAbstractSocket::SocketResourceError: return ENOBUFS;
    case QAbstractSocket::SocketTimeoutError: return ETIMEDOUT;
    case QAbstractSocket::NetworkError: return ENETUNREACH;
    case QAbstractSocket::AddressInUseError: return EADDRINUSE;
    default: return EIO;
  }
}
}  // namespace

std::string linkErrorText(int code) {
  std::string text = std::strerror(code);
  // strerror's sentence case reads oddly inside a log line.
  if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z' && !(text.size() > 1 && text[1] >= 'A' && text[1] <= 'Z'))
    text[0] = char(text[0] - 'A' + 'a');
  return text;
}

TcpByteLink::TcpByteLink() = default;

TcpByteLink::~TcpByteLink() {
  if (socket_) {
    // No handler runs for a link that is going away.
    QObject::disconnect(socket_.get(), nullptr, nullptr, nullptr);
    socket_->abort();
  }
}

void TcpByteLink::setAddress(const std::string& host, int port) {
  host_ = host;
  port_ = port;
}

void TcpByteLink::makeSocket() {
  if (socket_) return;
  socket_ = std::make_unique<QTcpSocket>();
  QTcpSocket* s = socket_.get();
  QObject::connect(s, &QAbstractSocket::stateChanged, s, [this](QAbstractSocket::SocketState st) {
    if (st == QAbstractSocket::ConnectingState && onEvent) onEvent(LinkEvent::Connecting, 0);
  });
  QObject::connect(s, &QAbstractSocket::connected, s, [this] { connected(); });
  QObject::connect(s, &QAbstractSocket::disconnected, s, [this] {
    if (onEvent) onEvent(LinkEvent::Disconnected, 0);
  });
  QObject::connect(s, &QAbstractSocket::errorOccurred, s, [this](QAbstractSocket::SocketError e) {
    if (onEvent) onEvent(LinkEvent::Error, errorNumber(e));
  });
  QObject::connect(s, &QIODevice::readyRead, s, [this] { readAll(); });
}

void TcpByteLink::setActive(bool on) {
  if (on) {
    if (active()) return;
    makeSocket();
    socket_->connectToHost(QString::fromStdString(host_), static_cast<quint16>(port_));
  } else if (socket_ && socket_->state() != QAbstractSocket::UnconnectedState) {
    // Sends what the socket still holds, then closes.
    socket_->disconnectFromHost();
  }
}

bool TcpByteLink::active() const { return socket_ && socket_->state() != QAbstractSocket::UnconnectedState; }

bool TcpByteLink::isOpen() const { return socket_ && socket_->state() == QAbstractSocket::ConnectedState; }

int TcpByteLink::write(const std::uint8_t* data, int count) {
  if (count <= 0) return 0;
  if (isOpen()) {
    qint64 n = socket_->write(reinterpret_cast<const char*>(data), count);
    return n < 0 ? 0 : static_cast<int>(n);
  }
  setActive(true);
  if (static_cast<int>(pending_.size()) + count >= kPendingLimit) return 0;
  pending_.insert(pending_.end(), data, data + count);
  return count;
}

int TcpByteLink::outQueueCount() const {
  if (isOpen()) return static_cast<int>(socket_->bytesToWrite());
  if (active()) return static_cast<int>(pending_.size());
  return 0;
}

void TcpByteLink::connected() {
  if (!pending_.empty()) {
    socket_->write(reinterpret_cast<const char*>(pending_.data()), static_cast<qint64>(pending_.size()));
    pending_.clear();
  }
  if (onEvent) onEvent(LinkEvent::Connected, 0);
}

void TcpByteLink::readAll() {
  char buf[kReadBlock];
  // Everything that is there now, so no reply waits for the next arrival.
  while (socket_ && socket_->bytesAvailable() > 0) {
    qint64 n = socket_->read(buf, sizeof buf);
    if (n <= 0) break;
    if (onReceive) onReceive(reinterpret_cast<const std::uint8_t*>(buf), static_cast<int>(n));
  }
}

}  // namespace ph
