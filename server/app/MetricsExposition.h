#pragma once
// Writes metrics in the Prometheus text exposition format (version 0.0.4):
//
//   # HELP name text
//   # TYPE name counter|gauge|histogram
//   name{label="value",...} value
//
// One family (HELP and TYPE, then its samples) at a time, every sample of a
// family right after its header; a histogram is written as cumulative
// name_bucket{le="..."} lines ending with le="+Inf", then name_sum and
// name_count. Label values and help texts are escaped; a label value that
// is not valid UTF-8 has each faulty byte replaced by U+FFFD, since a
// scraper refuses the whole page otherwise.

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarvik {

struct HistogramSnapshot;

// Label names and values in the order written.
using MetricLabels = std::vector<std::pair<std::string, std::string>>;

// The Content-Type of the page.
constexpr const char* kMetricsContentType = "text/plain; version=0.0.4; charset=utf-8";

// Backslash, double quote and line feed escaped; invalid UTF-8 replaced.
std::string EscapeLabelValue(std::string_view value);
// Backslash and line feed escaped.
std::string EscapeHelpText(std::string_view text);
// Shortest text that reads back as the same double; "+Inf", "-Inf", "NaN".
std::string FormatMetricValue(double value);

class MetricsExposition {
 public:
  // Starts a family: `type` is "counter", "gauge" or "histogram".
  void Family(std::string_view name, std::string_view type, std::string_view help);

  void Sample(std::string_view name, const MetricLabels& labels, double value);
  void Sample(std::string_view name, const MetricLabels& labels, std::uint64_t value);
  void Sample(std::string_view name, const MetricLabels& labels, std::int64_t value);

  // The buckets of `histogram` added up from the lowest bound on, the
  // "+Inf" bucket and name_count both the total of its counts.
  void Histogram(std::string_view name, const MetricLabels& labels, const HistogramSnapshot& histogram);

  const std::string& Text() const { return text_; }

 private:
  void Line(std::string_view name, const MetricLabels& labels, std::string_view value);

  std::string text_;
};

}  // namespace tarvik
