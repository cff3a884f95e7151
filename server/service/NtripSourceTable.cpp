#include "service/NtripSourceTable.h"

#include <cstdio>

namespace tarvik {

namespace {

std::string Degrees(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", value);
  return text;
}

}  // namespace

std::string NtripFieldText(const std::string& text) {
  std::string out = text;
  for (char& c : out)
    if (c == ';' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '_';
  return out;
}

std::string NtripFormatDetails(const std::vector<int>& messages) {
  std::string details;
  for (int m : messages) {
    if (!details.empty()) details += ',';
    details += std::to_string(m) + "(1)";
  }
  return details;
}

std::string NtripStrLine(const NtripStreamEntry& s) {
  return "STR;" + NtripFieldText(s.mountPoint) + ";" + NtripFieldText(s.identifier) + ";RTCM 3.x;" +
         NtripFormatDetails(s.messages) + ";0;;Tarvik;;" + Degrees(s.latitude) + ";" + Degrees(s.longitude) +
         ";1;0;Tarvik;none;" + (s.authentication ? "B" : "N") + ";N;0;Transformation messages\r\n";
}

std::string NtripCasLine(const NtripCasterEntry& caster, const std::vector<NtripStreamEntry>& streams) {
  double latitude = 0.0, longitude = 0.0;
  for (const NtripStreamEntry& s : streams) {
    latitude += s.latitude;
    longitude += s.longitude;
  }
  if (!streams.empty()) {
    latitude /= static_cast<double>(streams.size());
    longitude /= static_cast<double>(streams.size());
  }
  return "CAS;" + NtripFieldText(caster.host) + ";" + std::to_string(caster.port) + ";" +
         NtripFieldText(caster.identifier) + ";" + NtripFieldText(caster.operatorName) + ";1;;" +
         Degrees(latitude) + ";" + Degrees(longitude) +
         ";0.0.0.0;0;Transformation messages 1021 1023 1025\r\n";
}

std::string NtripSourceTable(const std::vector<NtripStreamEntry>& streams, const NtripCasterEntry& caster) {
  std::string table;
  for (const NtripStreamEntry& s : streams) table += NtripStrLine(s);
  table += NtripCasLine(caster, streams);
  table += "ENDSOURCETABLE\r\n";
  return table;
}

}  // namespace tarvik
