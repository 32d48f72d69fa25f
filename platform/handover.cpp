#include "handover.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <chrono>

namespace plat {

std::shared_ptr<HandOver> HandOver::create(UiPoster poster) {
  return std::shared_ptr<HandOver>(new HandOver(std::move(poster)));
}

bool HandOver::callAndWait(std::function<void()> fn) {
  auto job = std::make_shared<Job>();
  job->fn = std::move(fn);
  {
    std::lock_guard<std::mutex> lk(m_);
    if (closed_) return false;
    pending_.push_back(job);
  }
  std::weak_ptr<HandOver> weak = weak_from_this();
  poster_([weak] {
    if (auto self = weak.lock()) self->runPending();
  });
  std::unique_lock<std::mutex> lk(m_);
  cv_.wait(lk, [&] { return job->done || closed_; });
  return job->done;
}

void HandOver::runPending() {
  for (;;) {
    std::shared_ptr<Job> job;
    {
      std::lock_guard<std::mutex> lk(m_);
      if (closed_ || pending_.empty()) return;
      job = pending_.front();
      pending_.pop_front();
    }
    job->fn();
    {
      std::lock_guard<std::mutex> lk(m_);
      job->done = true;
    }
    cv_.notify_all();
  }
}

void HandOver::close() {
  {
    std::lock_guard<std::mutex> lk(m_);
    closed_ = true;
    pending_.clear();
  }
  cv_.notify_all();
}

bool HandOver::closed() const {
  std::lock_guard<std::mutex> lk(m_);
  return closed_;
}

UiPoster PostQueue::poster() {
  return [this](std::function<void()> fn) {
    {
      std::lock_guard<std::mutex> lk(m_);
      q_.push_back(std::move(fn));
    }
    cv_.notify_all();
  };
}

int PostQueue::runAll() {
  int n = 0;
  for (;;) {
    std::function<void()> fn;
    {
      std::lock_guard<std::mutex> lk(m_);
      if (q_.empty()) return n;
      fn = std::move(q_.front());
      q_.pop_front();
    }
    fn();
    ++n;
  }
}

int PostQueue::waitAndRun(int timeoutMs) {
  {
    std::unique_lock<std::mutex> lk(m_);
    cv_.wait_for(lk, std::chrono::milliseconds(timeoutMs), [&] { return !q_.empty(); });
  }
  return runAll();
}

UiPoster qtUiPoster() {
  return [](std::function<void()> fn) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app) QMetaObject::invokeMethod(app, std::move(fn), Qt::QueuedConnection);
  };
}

}  // namespace plat
