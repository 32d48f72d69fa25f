#include "qt_clock.h"

#include <QTimer>

namespace plat {

namespace {
class QtTimer : public Timer {
 public:
  explicit QtTimer(const std::string& n) : Timer(n) {
    QObject::connect(&qt_, &QTimer::timeout, [this] { fire(); });
  }

 protected:
  void arm() override { qt_.start(interval()); }
  void disarm() override { qt_.stop(); }

 private:
  QTimer qt_;
};
}  // namespace

QtClock::QtClock() : start_(std::chrono::steady_clock::now()) {}

std::int64_t QtClock::tickMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start_).count();
}

std::unique_ptr<Timer> QtClock::createTimer(const std::string& name) { return std::make_unique<QtTimer>(name); }

}  // namespace plat
