#pragma once
// A named auto-reset event shared between processes, on a POSIX named
// semaphore. A semaphore counts where an event does not, so a wait drains the
// count after it wakes: several sets before one wait still give one wake.
#include <semaphore.h>

#include <memory>
#include <string>

namespace plat {

class NamedEvent {
 public:
  enum class Wait { Signalled, Timeout, Failed };

  // Opens the event, creating it when it does not exist yet. Returns null
  // when the system refuses (errno tells why).
  static std::unique_ptr<NamedEvent> open(const std::string& name);
  // Opens only an existing event.
  static std::unique_ptr<NamedEvent> openExisting(const std::string& name);
  ~NamedEvent();
  NamedEvent(const NamedEvent&) = delete;
  NamedEvent& operator=(const NamedEvent&) = delete;

  bool set();
  // timeoutMs < 0 waits without limit.
  Wait wait(int timeoutMs);
  // Clears a pending set.
  void reset();
  const std::string& name() const { return name_; }

  // One-shot helper: set the event of that name (created when absent).
  static bool setNamed(const std::string& name);
  // Removes the name from the system (openers keep their handles).
  static void remove(const std::string& name);

 private:
  NamedEvent(sem_t* s, std::string name) : sem_(s), name_(std::move(name)) {}
  sem_t* sem_;
  std::string name_;
};

}  // namespace plat
