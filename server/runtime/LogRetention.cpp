#include "runtime/LogRetention.h"

#include <chrono>
#include <system_error>

#include "runtime/PelLog.h"

namespace tarvik {
namespace {

// Days since 1 January 1970 of a civil date (proleptic Gregorian calendar).
long DayNumber(int year, int month, int day) {
  year -= month <= 2;
  const long era = (year >= 0 ? year : year - 399) / 400;
  const long yearOfEra = year - era * 400;
  const long dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

bool Digits(const std::string& text, std::size_t at, std::size_t count, int& value) {
  value = 0;
  for (std::size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + (text[i] - '0');
  }
  return true;
}

// How often the thread looks whether the date changed.
constexpr auto kCheckInterval = std::chrono::minutes(10);

}  // namespace

bool LogRetention::DayOfFileName(const std::string& fileName, const std::string& prefix, long& day) {
  // prefix + "_" + "dd.mm.yyyy" + ".log"
  const std::size_t at = prefix.size() + 1;
  if (fileName.size() != at + 10 + 4) return false;
  if (fileName.compare(0, prefix.size(), prefix) != 0 || fileName[prefix.size()] != '_') return false;
  if (fileName[at + 2] != '.' || fileName[at + 5] != '.' || fileName.compare(at + 10, 4, ".log") != 0)
    return false;
  int d = 0, m = 0, y = 0;
  if (!Digits(fileName, at, 2, d) || !Digits(fileName, at + 3, 2, m) || !Digits(fileName, at + 6, 4, y))
    return false;
  if (d < 1 || d > 31 || m < 1 || m > 12) return false;
  day = DayNumber(y, m, d);
  return true;
}

LogRetention::Result LogRetention::RemoveExpired(std::time_t now) const {
  Result result;
  if (days_ <= 0) return result;
  std::tm tm{};
  localtime_r(&now, &tm);
  const long today = DayNumber(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);

  RemoveIn(logFolder_, "PelLog", today, result);
  std::error_code ec;
  for (std::filesystem::directory_iterator it(logFolder_, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code kindError;
    if (!it->is_directory(kindError)) continue;
    RemoveIn(it->path(), "PelLog_" + it->path().filename().string(), today, result);
  }
  return result;
}

void LogRetention::RemoveIn(const std::filesystem::path& folder, const std::string& prefix, long today,
                            Result& result) const {
  std::error_code ec;
  for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    long day = 0;
    if (!DayOfFileName(it->path().filename().string(), prefix, day) || today - day < days_) continue;
    // A link or folder of that name is not one of our files.
    std::error_code kindError;
    if (it->symlink_status(kindError).type() != std::filesystem::file_type::regular) continue;
    std::error_code removeError;
    if (std::filesystem::remove(it->path(), removeError))
      ++result.removed;
    else if (removeError)
      ++result.failed;
  }
}

LogRetentionSchedule::LogRetentionSchedule(std::filesystem::path logFolder, int days)
    : retention_(std::move(logFolder), days), days_(days) {
  if (days_ <= 0) return;
  Apply();
  thread_ = std::thread([this] {
    std::time_t last = std::time(nullptr);
    std::string lastDate = LocalDateText(last);
    std::unique_lock<std::mutex> lock(mutex_);
    while (!wake_.wait_for(lock, kCheckInterval, [this] { return stop_; })) {
      const std::string date = LocalDateText(std::time(nullptr));
      if (date == lastDate) continue;
      lastDate = date;
      lock.unlock();
      Apply();
      lock.lock();
    }
  });
}

LogRetentionSchedule::~LogRetentionSchedule() {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void LogRetentionSchedule::Apply() {
  const LogRetention::Result result = retention_.RemoveExpired(std::time(nullptr));
  const std::string kept = " (keeping " + std::to_string(days_) + " days).";
  PelLog log;
  if (result.removed > 0)
    log.write(0, PelLogInfo, "Tarvik",
              "Log retention: removed " + std::to_string(result.removed) + " daily log files" + kept);
  if (result.failed > 0)
    log.write(
        0, PelLogWarning, "Tarvik",
        "Log retention: " + std::to_string(result.failed) + " daily log files could not be removed" + kept);
}

}  // namespace tarvik
