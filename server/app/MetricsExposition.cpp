#include "app/MetricsExposition.h"

#include <charconv>
#include <cmath>

#include "service/SessionMetrics.h"

namespace tarvik {
namespace {

constexpr const char* kReplacementCharacter = "\xEF\xBF\xBD";  // U+FFFD
// Values from 1e-4 to below 1e21 are written without exponent.
constexpr int kLowestFixedExponent = -4;
constexpr int kHighestFixedExponent = 21;

// Length of the valid UTF-8 sequence at the start of `s`, 0 when there is
// none (a stray continuation byte, a truncated, overlong or surrogate
// sequence, or one beyond U+10FFFF).
std::size_t Utf8SequenceLength(std::string_view s) {
  const auto byte = [&s](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char b0 = byte(0);
  if (b0 < 0x80) return 1;
  std::size_t n;
  unsigned char low = 0x80, high = 0xBF;  // range of the second byte
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    n = 2;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    n = 3;
    if (b0 == 0xE0) low = 0xA0;   // overlong
    if (b0 == 0xED) high = 0x9F;  // surrogates
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    n = 4;
    if (b0 == 0xF0) low = 0x90;   // overlong
    if (b0 == 0xF4) high = 0x8F;  // beyond U+10FFFF
  } else {
    return 0;
  }
  if (s.size() < n || byte(1) < low || byte(1) > high) return 0;
  for (std::size_t i = 2; i < n; ++i)
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  return n;
}

}  // namespace

std::string EscapeLabelValue(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  while (!value.empty()) {
    const std::size_t n = Utf8SequenceLength(value);
    if (n == 0) {
      out += kReplacementCharacter;
      value.remove_prefix(1);
      continue;
    }
    if (value[0] == '\\')
      out += "\\\\";
    else if (value[0] == '"')
      out += "\\\"";
    else if (value[0] == '\n')
      out += "\\n";
    else
      out.append(value.substr(0, n));
    value.remove_prefix(n);
  }
  return out;
}

std::string EscapeHelpText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '\\')
      out += "\\\\";
    else if (c == '\n')
      out += "\\n";
    else
      out += c;
  }
  return out;
}

std::string FormatMetricValue(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "+Inf" : "-Inf";
  // The shortest digits that read back as the same double, written out in
  // full ("0.0001", "86400.5") unless the exponent is far from 0, as
  // scrapers and their users expect.
  char buffer[64];
  const auto scientific = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
  const std::string_view text(buffer, static_cast<std::size_t>(scientific.ptr - buffer));
  int exponent = 0;
  const std::string_view digits = text.substr(text.find('e') + 1);
  std::from_chars(digits.data() + (digits[0] == '+' ? 1 : 0), digits.data() + digits.size(), exponent);
  if (exponent < kLowestFixedExponent || exponent >= kHighestFixedExponent) return std::string(text);
  char fixed[400];
  const auto result = std::to_chars(fixed, fixed + sizeof fixed, value, std::chars_format::fixed);
  return std::string(fixed, result.ptr);
}

void MetricsExposition::Family(std::string_view name, std::string_view type, std::string_view help) {
  text_.append("# HELP ").append(name).append(" ").append(EscapeHelpText(help)).append("\n");
  text_.append("# TYPE ").append(name).append(" ").append(type).append("\n");
}

void MetricsExposition::Sample(std::string_view name, const MetricLabels& labels, double value) {
  Line(name, labels, FormatMetricValue(value));
}

void MetricsExposition::Sample(std::string_view name, const MetricLabels& labels, std::uint64_t value) {
  Line(name, labels, std::to_string(value));
}

void MetricsExposition::Sample(std::string_view name, const MetricLabels& labels, std::int64_t value) {
  Line(name, labels, std::to_string(value));
}

void MetricsExposition::Histogram(std::string_view name, const MetricLabels& labels,
                                  const HistogramSnapshot& histogram) {
  const std::string bucket = std::string(name) + "_bucket";
  MetricLabels withBound = labels;
  withBound.emplace_back("le", "");
  std::uint64_t cumulative = 0;
  for (std::size_t i = 0; i < histogram.upperBounds.size(); ++i) {
    if (i < histogram.counts.size()) cumulative += histogram.counts[i];
    withBound.back().second = FormatMetricValue(histogram.upperBounds[i]);
    Line(bucket, withBound, std::to_string(cumulative));
  }
  const std::uint64_t count = histogram.Count();
  withBound.back().second = "+Inf";
  Line(bucket, withBound, std::to_string(count));
  Line(std::string(name) + "_sum", labels, FormatMetricValue(histogram.sum));
  Line(std::string(name) + "_count", labels, std::to_string(count));
}

void MetricsExposition::Line(std::string_view name, const MetricLabels& labels, std::string_view value) {
  text_.append(name);
  if (!labels.empty()) {
    text_ += '{';
    for (std::size_t i = 0; i < labels.size(); ++i) {
      if (i > 0) text_ += ',';
      text_.append(labels[i].first).append("=\"").append(EscapeLabelValue(labels[i].second)).append("\"");
    }
    text_ += '}';
  }
  text_.append(" ").append(value).append("\n");
}

}  // namespace tarvik
