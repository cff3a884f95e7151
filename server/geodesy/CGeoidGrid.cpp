#include "geodesy/CGeoidGrid.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>
#include <string_view>
#include <system_error>

#include "runtime/RegularFile.h"

namespace tarvik {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// Reads one number the way "%lf" does: leading white space skipped, an
// optional sign, and the longest prefix that forms a number. Advances `p`.
bool ScanDouble(const char*& p, const char* end, double& value) {
  while (p < end && IsBlank(*p)) ++p;
  const char* start = p;
  if (start < end && *start == '+') ++start;
  auto [next, error] = std::from_chars(start, end, value, std::chars_format::general);
  if (error == std::errc::result_out_of_range) {
    // Too large or too small for a double: take what strtod makes of it.
    std::string text(start, next);
    value = std::strtod(text.c_str(), nullptr);
    error = std::errc();
  }
  if (error != std::errc() || (start != p && *start == '-')) return false;
  p = next;
  return true;
}

// "%d": an optional sign and decimal digits, within the range of int.
bool ScanInt(const char*& p, const char* end, int& value) {
  while (p < end && IsBlank(*p)) ++p;
  const char* start = p;
  if (start < end && *start == '+') ++start;
  auto [next, error] = std::from_chars(start, end, value);
  if (error != std::errc() || (start != p && *start == '-')) return false;
  p = next;
  return true;
}

bool ScanDoubles(std::string_view line, double* values, int count) {
  const char* p = line.data();
  const char* end = p + line.size();
  for (int i = 0; i < count; ++i)
    if (!ScanDouble(p, end, values[i])) return false;
  return true;
}

// Lines longer than this are no line of a geoid grid; refusing them keeps a
// file without line breaks from being read into memory whole.
constexpr std::size_t kMaxLine = 4096;

enum class Item { Line, End, TooLong };

// The next item of the file: empty lines and comment lines are skipped; a
// line of blanks comes back as an empty item. A read error ends the file
// like a line that is too long: the load fails.
Item NextItem(LineReader& lines, std::string_view& item) {
  for (;;) {
    std::string_view view;
    switch (lines.Next(view)) {
      case LineReader::Result::End:
        return Item::End;
      case LineReader::Result::TooLong:
      case LineReader::Result::Error:
        return Item::TooLong;
      case LineReader::Result::Line:
        break;
    }
    if (!view.empty() && view.back() == '\r') view.remove_suffix(1);
    if (view.empty()) continue;
    std::size_t first = 0;
    while (first < view.size() && IsBlank(view[first])) ++first;
    std::size_t last = view.size();
    while (last > first && IsBlank(view[last - 1])) --last;
    item = view.substr(first, last - first);
    if (!item.empty() && item.front() == ';') continue;
    return Item::Line;
  }
}

}  // namespace

void CGeoidGrid::Clear() {
  north_ = west_ = south_ = east_ = 0.0;
  latSpacing_ = lonSpacing_ = 0.0;
  rows_ = columns_ = 0;
  loaded_ = false;
  nodes_.clear();
}

int CGeoidGrid::Load(const std::filesystem::path& file) {
  Clear();
  // Nothing may leave the loader: running out of memory on an absurd file
  // is a failed load like any other.
  try {
    return LoadFrom(file);
  } catch (...) {
    return kGeoidFormatError;
  }
}

int CGeoidGrid::LoadFrom(const std::filesystem::path& file) {
  RegularFile source(file);
  if (source.Status() != FileStatus::Ok) return kGeoidNotAccessible;
  LineReader lines(source, kMaxLine);

  std::string_view item;
  double pair[2];
  for (int header = 0; header < 3; ++header) {
    if (NextItem(lines, item) != Item::Line || !ScanDoubles(item, pair, 2)) return kGeoidHeaderError;
    if (!std::isfinite(pair[0]) || !std::isfinite(pair[1])) return kGeoidHeaderError;
    if (header == 0) {
      north_ = pair[0];
      west_ = pair[1];
    } else if (header == 1) {
      south_ = pair[0];
      east_ = pair[1];
    } else {
      latSpacing_ = pair[0];
      lonSpacing_ = pair[1];
    }
  }
  // A grid without a positive spacing cannot place any position.
  if (!(latSpacing_ > 0.0) || !(lonSpacing_ > 0.0)) return kGeoidHeaderError;
  {
    if (NextItem(lines, item) != Item::Line) return kGeoidHeaderError;
    const char* p = item.data();
    const char* end = p + item.size();
    if (!ScanInt(p, end, rows_) || !ScanInt(p, end, columns_)) return kGeoidHeaderError;
  }

  // The counts of the header are not trusted for the allocation: a node
  // line takes at least six bytes, which bounds what the file can hold.
  if (rows_ > 0 && columns_ > 0) {
    const std::uint64_t expected = static_cast<std::uint64_t>(rows_) * static_cast<std::uint64_t>(columns_);
    nodes_.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(expected, source.Size() / 6 + 1)));
  }

  double node[3];
  for (;;) {
    const Item next = NextItem(lines, item);
    if (next == Item::End) break;
    if (next == Item::TooLong || !ScanDoubles(item, node, 3)) return kGeoidFormatError;
    if (!std::isfinite(node[0]) || !std::isfinite(node[1]) || !std::isfinite(node[2]))
      return kGeoidFormatError;
    nodes_.push_back(tGeoidPoint{node[0], node[1], node[2]});
  }
  if (nodes_.size() <= 3) return kGeoidFormatError;
  loaded_ = true;
  return kGeoidOK;
}

int CGeoidGrid::Lookup(double latitude, double longitude, double& geoidHeight) const {
  if (!std::isfinite(latitude) || !std::isfinite(longitude)) return kGeoidOutside;
  if (latitude > north_ || latitude < south_ || longitude < west_ || longitude > east_) return kGeoidOutside;
  // Row and column in floating point first: counts come from the file.
  const double rowValue = std::floor((north_ - latitude) / latSpacing_);
  const double columnValue = std::floor((longitude - west_) / lonSpacing_);
  if (!(rowValue >= 0.0) || rowValue >= static_cast<double>(rows_)) return kGeoidOutside;
  if (!(columnValue >= 0.0) || columnValue >= static_cast<double>(columns_)) return kGeoidOutside;
  const std::int64_t row = static_cast<std::int64_t>(rowValue);
  std::int64_t column = static_cast<std::int64_t>(columnValue);
  // On the eastern border the last node column has no eastern neighbour:
  // interpolate within the last cell of the row instead.
  if (column == columns_ - 1 && columns_ >= 2) column = columns_ - 2;

  const std::int64_t k1 = row * columns_ + column;
  const std::int64_t k3 = (row + 1) * columns_ + column;
  const std::int64_t keys[4] = {k1, k1 + 1, k3, k3 + 1};
  double weightSum = 0.0, weighted = 0.0;
  for (std::int64_t key : keys) {
    if (key < 0 || static_cast<std::uint64_t>(key) >= nodes_.size()) return kGeoidOutside;
    const tGeoidPoint& corner = nodes_[static_cast<std::size_t>(key)];
    const double dLat = latitude - corner.Latitude;
    const double dLon = longitude - corner.Longitude;
    const double distance = std::sqrt(dLat * dLat + dLon * dLon);
    const double weight = std::fabs(distance) < 1e-16 ? 1e16 : 1.0 / distance;
    weightSum += weight;
    weighted += weight * corner.Height;
  }
  geoidHeight = weighted / weightSum;
  return kGeoidOK;
}

}  // namespace tarvik
