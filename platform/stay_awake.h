#pragma once
// Keeping the computer awake while a print runs: a sleep inhibitor of
// systemd-logind, asked for over D-Bus and held as long as its file
// descriptor is open. Without logind (no system bus, another init) the
// request is told once and does nothing else.
#include <functional>
#include <string>

namespace plat {

class StayAwake {
 public:
  virtual ~StayAwake() = default;
  // Asks that the computer does not sleep; a second request while one is
  // held does nothing.
  virtual void request() = 0;
  // Gives the request back; nothing when none is held.
  virtual void release() = 0;
};

class LogindStayAwake : public StayAwake {
 public:
  // log: where the one line goes when logind cannot be asked.
  explicit LogindStayAwake(std::function<void(const std::string&)> log);
  ~LogindStayAwake() override;
  LogindStayAwake(const LogindStayAwake&) = delete;
  LogindStayAwake& operator=(const LogindStayAwake&) = delete;

  void request() override;
  void release() override;
  bool held() const { return fd_ >= 0; }

 private:
  std::function<void(const std::string&)> log_;
  int fd_ = -1;
  bool told_ = false;
};

}  // namespace plat
