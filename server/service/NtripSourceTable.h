#pragma once
// The caster's source table: one STR line per mount point it serves, one
// CAS line for the caster itself, and the end mark, each line ending in
// CR LF.

#include <string>
#include <vector>

namespace tarvik {

// One served mount point.
struct NtripStreamEntry {
  std::string mountPoint;
  std::string identifier;     // the configuration's name
  std::vector<int> messages;  // active messages, in their configured order
  double latitude = 0.0;      // centre of the configuration's area, degrees
  double longitude = 0.0;
  bool authentication = false;  // Basic authentication required
};

struct NtripCasterEntry {
  std::string host;  // the name clients reach the caster under
  int port = 0;
  std::string identifier = "Tarvik";
  std::string operatorName = "Tarvik";
};

// "1021(1),1023(1),1025(1)": each message is answered once per request.
std::string NtripFormatDetails(const std::vector<int>& messages);

// STR;mountpoint;identifier;format;format-details;carrier;nav-system;
// network;country;latitude;longitude;nmea;solution;generator;
// compr-encryp;authentication;fee;bitrate;misc
// The streams are RTCM 3.x transformation messages: no carrier phase, no
// navigation system, one solution per rover (NMEA 1, solution 0).
std::string NtripStrLine(const NtripStreamEntry& stream);

// CAS;host;port;identifier;operator;nmea;country;latitude;longitude;
// fallback host;fallback port;misc, placed at the mean position of the
// streams (0, 0 without any).
std::string NtripCasLine(const NtripCasterEntry& caster, const std::vector<NtripStreamEntry>& streams);

// The whole table: STR lines in the given order, the CAS line,
// "ENDSOURCETABLE".
std::string NtripSourceTable(const std::vector<NtripStreamEntry>& streams, const NtripCasterEntry& caster);

// A text made fit for one field: ";" and control characters become "_".
std::string NtripFieldText(const std::string& text);

}  // namespace tarvik
