#pragma once
// One client request: an NMEA GGA sentence turned into a position, executed
// against a configuration and answered in the configuration's format.
//
// A request lives for one handler call. Parse reads the position and the
// other GGA fields; the execution members (configuration, grid nodes,
// transformation, projection binding) and the response operations are
// added by the request execution.

#include "module/CComputationChain.h"
#include "module/CGeoPoint.h"
#include "runtime/PelLog.h"

#include <string>
#include <string_view>
#include <vector>

namespace tarvik {

class CRTCMASCIIResponse;
class CRTCMXMLResponse;
class CRTCMBinaryResponse;
class CConfigurationSettings;

class IRTCMRequest {
 public:
  virtual int Parse(const std::string& request) = 0;
  virtual int Execute() = 0;
  virtual int CreateASCIIResponses(std::vector<CRTCMASCIIResponse>& responses) = 0;
  virtual int CreateXMLResponses(std::vector<CRTCMXMLResponse>& responses) = 0;
  virtual int CreateBinaryResponses(std::vector<CRTCMBinaryResponse>& responses) = 0;
  virtual ~IRTCMRequest() = default;
  virtual int CheckMessageType(const std::string& request) = 0;
};

// Result codes of parsing and answering a request; those of its execution
// are the computation chain's (CComputationChain.h).
enum RequestResult : int {
  kResultUnknownRequest = -1000,     // the text is not a GGA sentence
  kResultXMLParseError = -1001,      // no request path produces it (requests are NMEA)
  kResultInvalidXMLRequest = -1002,  // no request path produces it
  kResultInvalidNMEA = -1003,        // latitude, longitude, a hemisphere or the altitude missing
  kResultNotExecuted = -2004,        // executed without a configuration
  kResultCreateResponse = -2006,     // no request path produces it
};

// Message types of a request.
constexpr int kMessageTypeGGA = 1;
constexpr int kMessageTypeOther = -1;

// Log source of every line written while parsing.
inline constexpr const char* kRequestLogSource = "RTCMMessageRequest";

class RTCMMessageRequest : public IRTCMRequest {
 public:
  // 1 = NMEA GGA, -1 = anything else.
  int messageType = 0;
  // Last result of parsing, execution or response creation (1 = success).
  int resultCode = 0;
  double latitude = 0.0;           // decimal degrees, south negative
  double longitude = 0.0;          // decimal degrees, west negative
  double geoidalSeparation = 0.0;  // metres, GGA field 11
  double height = 0.0;             // metres, ellipsoidal: altitude + separation
  int executed = 0;                // 1 once Execute completed every step
  // Attributes of every XML response; no request path fills them.
  std::string Version, User, Password;
  // GGA fields kept as text.
  std::string UTC;
  std::string quality;
  std::string numberOfSatellites;
  std::string HDOP;
  std::string ageOfData;
  std::string referenceStation;

  // Checks for GGA and reads the position: 1, -1000 (not GGA) or -1003
  // (invalid GGA); the result is also stored in resultCode.
  int Parse(const std::string& request) override;
  // 1 when the text contains "GGA" in any case, -1000 otherwise.
  int CheckMessageType(const std::string& request) override;

  // Cuts the next field (up to "," or else "*") off rest, both trimmed.
  // Without either separator the field is empty and rest stays.
  static std::string NextNMEAField(std::string& rest);
  // "ddmm.mmmm" / "dddmm.mmmm" to decimal degrees. Texts that are not a
  // coordinate (no decimal point, no digits, trailing junk) give false.
  static bool ConvertNMEAAngle(std::string_view text, double& degrees);
  // The same returning the value, 0.0 for a text that is not a coordinate.
  static double ConvertNMEAAngle(std::string_view text);

  // The log of the request (program-wide until a configuration is set).
  PelLog& log() { return log_; }
  void setLogConfiguration(const std::string& configuration) { log_.setConfiguration(configuration); }

  // --- Execution against a configuration ---
  // The configuration whose values the request reads and whose message
  // records it fills; also opens the request's log on its name.
  void SetConfiguration(CConfigurationSettings& settings);
  CConfigurationSettings* configuration = nullptr;
  // The 16 grid nodes of the last execution, north-west first, row by row
  // southwards, each row west to east.
  std::vector<CGeoPoint> gridPoints;

  // Runs the computation chain for the position: 1 (executed set) or the
  // code of the first failing step, also stored in resultCode.
  int Execute() override;
  // One response per active message 1021/1023/1025 in list order; a
  // request that is not GGA gets the bare text of its result code
  // (ASCII, XML) and resultCode -1000. Binary frames are always one per
  // active message, with the invalid area when not executed.
  int CreateASCIIResponses(std::vector<CRTCMASCIIResponse>& responses) override;
  int CreateXMLResponses(std::vector<CRTCMXMLResponse>& responses) override;
  int CreateBinaryResponses(std::vector<CRTCMBinaryResponse>& responses) override;

 protected:
  PelLog log_;

 private:
  int ParseGGAFields(const std::string& request);
  void LogLine(int severity, const std::string& message);
};

}  // namespace tarvik
