#include "host/components/mem_couple.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "platform/named_objects.h"

namespace ph {

namespace {

// The size of an existing shared memory block of that name, 0 when there is
// none: a couple maps a block that another process made at its maker's size.
std::size_t existingBlockSize(const std::string& name) {
  int fd = shm_open(plat::posixObjectName(name).c_str(), O_RDONLY | O_CLOEXEC, 0);
  if (fd < 0) return 0;
  struct stat st {};
  const bool ok = fstat(fd, &st) == 0;
  ::close(fd);
  return ok && st.st_size > 0 ? std::size_t(st.st_size) : 0;
}

}  // namespace

TMemCouple::TMemCouple(plat::UiPoster poster) : poster_(std::move(poster)) { SetName(""); }

TMemCouple::~TMemCouple() { Close(); }

void TMemCouple::SetName(const std::string& name) {
  prevName_ = name_;
  name_ = name;
  if (MemHandleName.empty() || MemHandleName == prevName_ + "MH") MemHandleName = name_ + "MH";
  SetClient(client_);
}

void TMemCouple::SetClient(bool client) {
  if (client != client_) prevName_ = name_;
  const char* recvNow = client_ ? "SC" : "CS";
  const char* sendNow = client_ ? "CS" : "SC";
  if (RecvEventName.empty() || RecvEventName == prevName_ + recvNow) RecvEventName = name_ + (client ? "SC" : "CS");
  if (SendEventName.empty() || SendEventName == prevName_ + sendNow) SendEventName = name_ + (client ? "CS" : "SC");
  client_ = client;
}

void TMemCouple::Loaded() {
  if (Active && !thread_ && !map_ && !recv_) Open();
}

void TMemCouple::Open() {
  if (Active || thread_ || recv_ || map_ || send_) Close();
  if (!RecvEventName.empty()) {
    recv_ = plat::NamedEvent::open(RecvEventName);
    // Without a receive event there is nothing to wait for: no thread.
    if (recv_) {
      recv_->reset();
      handOver_ = plat::HandOver::create(poster_);
      thread_ = std::make_unique<TWaitEvent2Thread>(*recv_, kPollMs, handOver_, [this] { deliver(); });
      if (Tag == kInfiniteWaitTag) thread_->setInfinite();
      thread_->Start();
    }
  }
  if (!MemHandleName.empty()) {
    std::size_t size = existingBlockSize(MemHandleName);
    if (size == 0 && BufferSize > 0) size = std::size_t(BufferSize);
    if (size > 0) map_ = plat::SharedMemory::open(MemHandleName, size);
  }
  Active = true;
}

void TMemCouple::deliver() {
  // A copy: the handler may replace OnReceive while it runs.
  auto handler = OnReceive;
  if (handler) handler(*this);
}

void TMemCouple::Close() {
  if (thread_) {
    thread_->Terminate();
    thread_->WaitFor();
    thread_.reset();
  }
  handOver_.reset();
  map_.reset();
  recv_.reset();
  send_.reset();
  Active = false;
}

void TMemCouple::Send() {
  if (SendEventName.empty()) return;
  if (!send_) send_ = plat::NamedEvent::open(SendEventName);
  if (send_) send_->set();
}

int TMemCouple::SendBuf(const void* bytes, int count) {
  if (!map_) return 0;
  std::size_t n = count > 0 ? std::size_t(count) : 0;
  n = std::min({n, std::size_t(std::max(BufferSize, 0)), map_->size()});
  if (n > 0) std::memcpy(map_->data(), bytes, n);
  Send();
  return int(n);
}

}  // namespace ph
