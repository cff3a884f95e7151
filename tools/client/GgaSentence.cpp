#include "GgaSentence.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace tarvikclient {

std::string NmeaChecksum(const std::string& text) {
  std::size_t begin = text.empty() || text[0] != '$' ? 0 : 1;
  std::size_t end = text.find('*');
  if (end == std::string::npos) end = text.size();
  unsigned x = 0;
  for (std::size_t i = begin; i < end; ++i) x ^= static_cast<unsigned char>(text[i]);
  char hex[3];
  std::snprintf(hex, sizeof hex, "%02X", x & 0xFFu);
  return hex;
}

namespace {

// ddmm.mmmmmm (latitude) or dddmm.mmmmmm (longitude) and the hemisphere.
std::string NmeaAngle(double degrees, int degreeDigits, char positive, char negative) {
  char hemisphere = degrees < 0 ? negative : positive;
  double a = std::fabs(degrees);
  int whole = static_cast<int>(a);
  double minutes = (a - whole) * 60.0;
  // Rounding the minutes to six decimals may reach 60.
  if (minutes >= 59.9999995) {
    minutes = 0.0;
    ++whole;
  }
  char buf[40];
  std::snprintf(buf, sizeof buf, "%0*d%09.6f,%c", degreeDigits, whole, minutes, hemisphere);
  return buf;
}

}  // namespace

std::string MakeGga(double latitude, double longitude, double height, double separation,
                    const std::string& utc) {
  std::string time = utc;
  if (time.empty()) {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&now, &tm);
    char buf[16];
    std::strftime(buf, sizeof buf, "%H%M%S.00", &tm);
    time = buf;
  }
  char body[200];
  std::snprintf(body, sizeof body, "$GPGGA,%s,%s,%s,4,12,0.8,%.3f,M,%.3f,M,1.0,0001*", time.c_str(),
                NmeaAngle(latitude, 2, 'N', 'S').c_str(), NmeaAngle(longitude, 3, 'E', 'W').c_str(),
                height - separation, separation);
  std::string sentence = body;
  return sentence + NmeaChecksum(sentence);
}

std::string GgaLineToSend(std::string line) {
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
  std::size_t start = line.find('$');
  if (start == std::string::npos) return "";
  line.erase(0, start);
  std::string upper = line;
  std::transform(upper.begin(), upper.end(), upper.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  // The address field is "$" + talker + "GGA"; other sentences of the
  // receiver (RMC, GSV, ...) are not requests.
  std::size_t comma = upper.find(',');
  std::string address = upper.substr(0, comma);
  if (address.size() < 4 || address.compare(address.size() - 3, 3, "GGA") != 0) return "";
  return line;
}

}  // namespace tarvikclient
