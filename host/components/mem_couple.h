#pragma once
// TMemCouple: couples this program with another process through a named
// receive event, a named send event and a named shared memory block. When
// the other side sets the receive event, OnReceive runs on the
// user-interface thread. Messages carry no header or length: an event is the
// message, and data, when any, lies at the start of the shared memory.
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "host/components/wait_event_thread.h"
#include "platform/handover.h"
#include "platform/named_event.h"
#include "platform/shared_memory.h"

namespace ph {

class TMemCouple {
 public:
  // Tag value for waiting without time-out (with a private stop).
  static constexpr int kInfiniteWaitTag = TWaitEvent2Thread::kInfinite;
  static constexpr int kPollMs = 500;

  // poster: how events reach the user-interface thread (plat::qtUiPoster()
  // in the programs, a PostQueue in tests).
  explicit TMemCouple(plat::UiPoster poster);
  ~TMemCouple();
  TMemCouple(const TMemCouple&) = delete;
  TMemCouple& operator=(const TMemCouple&) = delete;

  // Size of the shared memory when this side creates it.
  int BufferSize = 256;
  // Empty names leave that object out. They take default forms from the
  // couple's name and side until set otherwise (see SetName, SetClient).
  std::string RecvEventName;
  std::string SendEventName;
  std::string MemHandleName;
  // Runs on the user-interface thread, once per wake of the receive event.
  std::function<void(TMemCouple& sender)> OnReceive;
  // kInfiniteWaitTag: wait without time-out; otherwise in steps of 500 ms.
  int Tag = 0;
  // True while open; set before Loaded() to have the couple open itself.
  bool Active = false;

  const std::string& Name() const { return name_; }
  // Renames; names that still have their default form follow the new name.
  void SetName(const std::string& name);
  bool Client() const { return client_; }
  // A server receives on name + "CS" and sends on name + "SC"; a client the
  // other way round. Only default names change.
  void SetClient(bool client);
  // After the holder has set the properties: opens when Active is set.
  void Loaded();

  void Open();
  void Close();
  // Sets the send event (created on first use).
  void Send();
  // Copies the bytes to the start of the shared memory, at most BufferSize
  // and never more than is mapped, then sets the send event. Returns the
  // number copied; 0 (and no event) without shared memory.
  int SendBuf(const void* bytes, int count);

  // The mapped shared memory (null while there is none) and its size: the
  // size of the existing block when another process made it first.
  unsigned char* view() const { return map_ ? map_->data() : nullptr; }
  std::size_t viewSize() const { return map_ ? map_->size() : 0; }
  // Whether a waiting thread runs (only with a receive event).
  bool waiting() const { return bool(thread_); }

 private:
  void deliver();

  plat::UiPoster poster_;
  std::string name_;
  std::string prevName_;
  bool client_ = false;
  std::unique_ptr<plat::NamedEvent> recv_;
  std::unique_ptr<plat::NamedEvent> send_;
  std::unique_ptr<plat::SharedMemory> map_;
  std::shared_ptr<plat::HandOver> handOver_;
  std::unique_ptr<TWaitEvent2Thread> thread_;
};

}  // namespace ph
