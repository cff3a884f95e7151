#pragma once
// How often a configuration opened its databases (the plan database and the
// height database or geoid grid), and how many of those loads failed: each
// read of the configuration file that reaches its databases is one load.

#include <atomic>
#include <cstdint>

namespace tarvik {

struct DatabaseLoadCounts {
  std::uint64_t loads = 0;
  std::uint64_t failures = 0;  // loads in which a database could not be opened
};

class DatabaseLoadCounter {
 public:
  void Loaded(bool failed) noexcept {
    loads_.fetch_add(1, std::memory_order_relaxed);
    if (failed) failures_.fetch_add(1, std::memory_order_relaxed);
  }
  DatabaseLoadCounts Read() const noexcept {
    return {loads_.load(std::memory_order_relaxed), failures_.load(std::memory_order_relaxed)};
  }

 private:
  std::atomic<std::uint64_t> loads_{0};
  std::atomic<std::uint64_t> failures_{0};
};

}  // namespace tarvik
