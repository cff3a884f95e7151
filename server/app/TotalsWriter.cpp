#include "app/TotalsWriter.h"

namespace tarvik {

TotalsWriter::TotalsWriter(std::chrono::milliseconds interval, std::function<void()> pass)
    : interval_(interval), pass_(std::move(pass)) {
  thread_ = std::thread([this] {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      if (wake_.wait_for(lock, interval_, [this] { return stopping_; })) return;
      lock.unlock();
      pass_();
      lock.lock();
    }
  });
}

TotalsWriter::~TotalsWriter() { Stop(); }

void TotalsWriter::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

}  // namespace tarvik
