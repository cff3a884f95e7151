#pragma once
// Removal of old daily log files.
//
// The log folder holds the program-wide files (PelLog_dd.mm.yyyy.log) and one
// folder per configuration with its files (<name>/PelLog_<name>_dd.mm.yyyy.log),
// one file a day and nothing else removes them. A retention of N days keeps
// the files of the last N days, today included, and removes the older ones;
// 0 keeps everything. Only regular files whose names are exactly a daily log
// name of the folder they lie in are touched, so whatever else an operator
// keeps there stays.

#include <condition_variable>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>

namespace tarvik {

class LogRetention {
 public:
  struct Result {
    int removed = 0;
    int failed = 0;  // matching files that could not be removed
  };

  LogRetention(std::filesystem::path logFolder, int days) : logFolder_(std::move(logFolder)), days_(days) {}

  // Removes the expired files as of the local date of `now`.
  Result RemoveExpired(std::time_t now) const;

  // The date in a daily log file's name with the given prefix ("PelLog" or
  // "PelLog_<name>"), as days since 1 January 1970; false when the name is
  // not such a file's.
  static bool DayOfFileName(const std::string& fileName, const std::string& prefix, long& day);

 private:
  void RemoveIn(const std::filesystem::path& folder, const std::string& prefix, long today,
                Result& result) const;

  std::filesystem::path logFolder_;
  int days_;
};

// Applies a retention at construction and then once a day (the first check
// after the local date changed), in a thread of its own, until destroyed.
// What it removed, and what it could not, goes into the program-wide log.
class LogRetentionSchedule {
 public:
  LogRetentionSchedule(std::filesystem::path logFolder, int days);
  ~LogRetentionSchedule();
  LogRetentionSchedule(const LogRetentionSchedule&) = delete;
  LogRetentionSchedule& operator=(const LogRetentionSchedule&) = delete;

 private:
  void Apply();

  LogRetention retention_;
  int days_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace tarvik
