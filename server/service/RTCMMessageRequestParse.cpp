// Reading an NMEA GGA sentence into the request's position and text fields.

#include "service/RTCMMessageRequest.h"
#include "service/ResultText.h"

#include <cctype>
#include <charconv>
#include <cmath>

namespace tarvik {
namespace {

bool IsSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string_view Trim(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && IsSpace(s[b])) ++b;
  while (e > b && IsSpace(s[e - 1])) --e;
  return s.substr(b, e - b);
}

// The program runs in the "C" locale, where only a to z have upper cases.
char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Whether "GGA" occurs in the text in any case, without an upper-case copy
// of the whole request.
bool MentionsGGA(std::string_view s) {
  for (std::size_t i = 0; i + 3 <= s.size(); ++i)
    if (UpperAscii(s[i]) == 'G' && UpperAscii(s[i + 1]) == 'G' && UpperAscii(s[i + 2]) == 'A') return true;
  return false;
}

std::string Upper(std::string_view s) {
  std::string upper(s);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper;
}

// NextNMEAField on a view of the sentence: the fields are cut off without
// copying or moving what is left.
std::string_view NextField(std::string_view& rest) {
  rest = Trim(rest);
  std::size_t cut = rest.find(',');
  if (cut == std::string_view::npos) cut = rest.find('*');
  if (cut == std::string_view::npos) return {};
  const std::string_view field = Trim(rest.substr(0, cut));
  rest.remove_prefix(cut + 1);
  return field;
}

// The leading number of a field, as the C "%lf" conversion would take it
// (trailing characters ignored), but locale-independent and only for
// finite decimal numbers: a field that does not begin with one has no
// value.
bool LeadingNumber(std::string_view text, double& value) {
  std::size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) ++i;
  if (i < text.size() && text[i] == '+') {
    ++i;
    if (i < text.size() && text[i] == '-') return false;
  }
  // Only plain decimal numbers: no "inf", "nan" or hexadecimal forms.
  std::size_t j = i;
  if (j < text.size() && text[j] == '-') ++j;
  if (j >= text.size() ||
      !(IsDigit(text[j]) || (text[j] == '.' && j + 1 < text.size() && IsDigit(text[j + 1]))))
    return false;
  double v = 0.0;
  auto [ptr, ec] = std::from_chars(text.data() + i, text.data() + text.size(), v, std::chars_format::general);
  (void)ptr;
  if (ec != std::errc() || !std::isfinite(v)) return false;
  value = v;
  return true;
}

}  // namespace

void RTCMMessageRequest::LogLine(int severity, const std::string& message) {
  log_.write(0, severity, kRequestLogSource, message);
}

std::string RTCMMessageRequest::NextNMEAField(std::string& rest) {
  std::string_view view = rest;
  const std::string field(NextField(view));
  rest = std::string(view);
  return field;
}

bool RTCMMessageRequest::ConvertNMEAAngle(std::string_view text, double& degrees) {
  // ddmm.mmmm: the two digits before the decimal point are the whole
  // minutes, everything before them the degrees. A text without a decimal
  // point, without degree digits or with minutes of 60 or more is not a
  // coordinate.
  const std::size_t p = text.find('.');
  if (p == std::string_view::npos) return false;
  std::string_view whole = text.substr(0, p);
  bool negative = false;
  if (!whole.empty() && (whole[0] == '-' || whole[0] == '+')) {
    negative = whole[0] == '-';
    whole.remove_prefix(1);
  }
  if (whole.size() < 3) return false;
  for (char c : whole)
    if (!IsDigit(c)) return false;
  std::string_view degText = whole.substr(0, whole.size() - 2);
  std::string_view minText = whole.substr(whole.size() - 2);
  // The fraction is read like "%lf": its leading digits, the rest ignored.
  std::string_view fraction = text.substr(p + 1);
  std::size_t n = 0;
  while (n < fraction.size() && IsDigit(fraction[n])) ++n;
  std::string minutesText(minText);
  minutesText += '.';
  minutesText += fraction.substr(0, n);
  if (n == 0) minutesText += '0';

  double deg = 0.0, minutes = 0.0;
  if (std::from_chars(degText.data(), degText.data() + degText.size(), deg).ec != std::errc()) return false;
  if (std::from_chars(minutesText.data(), minutesText.data() + minutesText.size(), minutes).ec != std::errc())
    return false;
  if (minutes >= 60.0) return false;
  double result = std::fabs(deg) + minutes / 60.0;
  degrees = negative ? -result : result;
  return true;
}

double RTCMMessageRequest::ConvertNMEAAngle(std::string_view text) {
  double d = 0.0;
  return ConvertNMEAAngle(text, d) ? d : 0.0;
}

int RTCMMessageRequest::CheckMessageType(const std::string& request) {
  if (MentionsGGA(request)) {
    messageType = kMessageTypeGGA;
    return kResultSuccess;
  }
  messageType = kMessageTypeOther;
  resultCode = kResultUnknownRequest;
  LogLine(PelLogError, "MessageType is not NMEA. Other message types are not supported.");
  return kResultUnknownRequest;
}

int RTCMMessageRequest::Parse(const std::string& request) {
  const int type = CheckMessageType(request);
  if (type != kResultSuccess) return type;
  resultCode = ParseGGAFields(request);
  return resultCode;
}

int RTCMMessageRequest::ParseGGAFields(const std::string& request) {
  std::string_view rest = request;
  std::string_view field;

  NextField(rest);  // sentence address (and anything before it)

  field = NextField(rest);
  if (field.empty())
    LogLine(PelLogWarning, "UTC missing in NMEA-String");
  else
    UTC = field;

  // Latitude and hemisphere. A latitude beyond the poles is no position.
  field = NextField(rest);
  double lat = 0.0;
  if (field.empty() || !ConvertNMEAAngle(field, lat) || std::fabs(lat) > 90.0) {
    LogLine(PelLogError, "Latitude missing in NMEA-String");
    return kResultInvalidNMEA;
  }
  field = NextField(rest);
  if (field.empty()) {
    LogLine(PelLogError, "Latitude missing in NMEA-String");
    return kResultInvalidNMEA;
  }
  latitude = Upper(field) == "S" ? -lat : lat;

  field = NextField(rest);
  double lon = 0.0;
  if (field.empty() || !ConvertNMEAAngle(field, lon) || std::fabs(lon) > 180.0) {
    LogLine(PelLogError, "Longitude missing in NMEA-String");
    return kResultInvalidNMEA;
  }
  field = NextField(rest);
  if (field.empty()) {
    LogLine(PelLogError, "Longitude missing in NMEA-String");
    return kResultInvalidNMEA;
  }
  longitude = Upper(field) == "W" ? -lon : lon;

  field = NextField(rest);
  if (field.empty())
    LogLine(PelLogWarning, "Quality missing in NMEA-String");
  else
    quality = field;

  field = NextField(rest);
  if (field.empty())
    LogLine(PelLogWarning, "Number of satellites missing in NMEA-String");
  else
    numberOfSatellites = field;

  field = NextField(rest);
  if (field.empty())
    LogLine(PelLogWarning, "HorizontalDilutionOfPrecision missing in NMEA-String");
  else
    HDOP = field;

  field = NextField(rest);
  double altitude = 0.0;
  if (field.empty() || !LeadingNumber(field, altitude)) {
    LogLine(PelLogError, "Height missing in NMEA-String");
    return kResultInvalidNMEA;
  }

  NextField(rest);  // altitude unit

  field = NextField(rest);
  double separation = 0.0;
  if (field.empty() || !LeadingNumber(field, separation)) {
    LogLine(PelLogError, "GeoidalSeparation missing in NMEA-String");
    height = altitude;
  } else {
    geoidalSeparation = separation;
    height = altitude + separation;
  }

  NextField(rest);  // separation unit

  field = NextField(rest);
  if (field.empty())
    LogLine(PelLogWarning, "AgeOfData missing in NMEA-String");
  else
    ageOfData = field;

  field = NextField(rest);
  if (field.empty())
    LogLine(PelLogWarning, "ReferenceStation information missing in NMEA-String");
  else
    referenceStation = field;

  return kResultSuccess;
}

}  // namespace tarvik
