#pragma once
// Texts of the request result codes: 1 = success, -1000..-1003 the request
// text, -2001..-2043 the computation.
//
// Header-only so that every layer that renders error responses (the ASCII
// texts, the XML documents, the request handling) can use it without a
// link dependency.

#include <string>
#include <string_view>

namespace tarvik {

// Result codes of a request.
enum RequestResult : int {
  kResultSuccess = 1,
  kResultUnknownRequest = -1000,
  kResultXMLParseError = -1001,
  kResultInvalidXMLRequest = -1002,
  kResultInvalidNMEA = -1003,
  kResultMarloAccess = -2001,
  kResultPelProjectionAccess = -2002,
  kResultHelmertFailed = -2003,
  kResultNotExecuted = -2004,
  kResultComputationNotSupported = -2005,
  kResultCreateResponse = -2006,
  kResultOutsideDatabase = -2007,
  kResultRegionalNotImplemented = -2009,
  kResultOrvelAccess = -2020,
  kResultGeoidGridAccess = -2030,
  kResultResidualOverrun = -2040,
  kResultMeanLatitudeOverrun = -2041,
  kResultMeanLongitudeOverrun = -2042,
  kResultMeanHeightOverrun = -2043,
};

// The text of a result code, "Unknown error." for codes not in the table.
// No side effects; callable from any thread.
inline std::string_view ResultTextView(int code) {
  switch (code) {
    case 1:
      return "Success";
    case -1000:
      return "Error: Unknown request.";
    case -1001:
      return "Error parsing XML-request.";
    case -1002:
      return "Error: Invalid XML-request.";
    case -1003:
      return "Invalid NMEA-String.";
    case -2001:
      return "Error accessing Marlo-database.";
    case -2002:
      return "Error accessing PelProjection.dll.";
    case -2003:
      return "Error performing 3D Helmert tranformation.";
    case -2004:
      return "Error: Request was not successfully executed.";
    case -2005:
      return "The transformation requested by the Computation-Indicator is not supported by "
             "the transformation module.";
    case -2006:
      return "Error creating response.";
    case -2007:
      return "Error accessing Marlo database. The requested location is outside the "
             "database borders.";
    case -2009:
      return "Error: The computation mode 'regional' is not yet implemented.";
    case -2020:
      return "Error: ORVEL access failed.";
    case -2030:
      return "Error: GeoidGrid access failed. Position is located outside database borders.";
    case -2040:
      return "Error: Residual range overrun.";
    case -2041:
      return "Error: Mean latitude offset range overrun.";
    case -2042:
      return "Error: Mean longitude offset range overrun.";
    case -2043:
      return "Error: Mean height offset range overrun.";
    default:
      return "Unknown error.";
  }
}

inline std::string ResultText(int code) { return std::string(ResultTextView(code)); }

}  // namespace tarvik
