#pragma once
// Texts of the request result codes: 1 = success, -1000..-1003 and -2004,
// -2006 the request (RTCMMessageRequest.h), -2001..-2043 the computation
// (CComputationChain.h).

#include <string>
#include <string_view>

#include "module/CComputationChain.h"
#include "service/RTCMMessageRequest.h"

namespace tarvik {

// The text of a result code, "Unknown error." for codes not in the table.
// No side effects; callable from any thread.
inline std::string_view ResultTextView(int code) {
  switch (code) {
    case kResultSuccess:
      return "Success";
    case kResultUnknownRequest:
      return "Error: Unknown request.";
    case kResultXMLParseError:
      return "Error parsing XML-request.";
    case kResultInvalidXMLRequest:
      return "Error: Invalid XML-request.";
    case kResultInvalidNMEA:
      return "Invalid NMEA-String.";
    case kResultMarloAccess:
      return "Error accessing Marlo-database.";
    case kResultPelProjectionAccess:
      return "Error accessing PelProjection.dll.";
    case kResultHelmertFailed:
      return "Error performing 3D Helmert tranformation.";
    case kResultNotExecuted:
      return "Error: Request was not successfully executed.";
    case kResultComputationNotSupported:
      return "The transformation requested by the Computation-Indicator is not supported by "
             "the transformation module.";
    case kResultCreateResponse:
      return "Error creating response.";
    case kResultOutsideDatabase:
      return "Error accessing Marlo database. The requested location is outside the "
             "database borders.";
    case kResultRegionalNotImplemented:
      return "Error: The computation mode 'regional' is not yet implemented.";
    case kResultOrvelAccess:
      return "Error: ORVEL access failed.";
    case kResultGeoidGridAccess:
      return "Error: GeoidGrid access failed. Position is located outside database borders.";
    case kResultResidualOverrun:
      return "Error: Residual range overrun.";
    case kResultMeanLatitudeOverrun:
      return "Error: Mean latitude offset range overrun.";
    case kResultMeanLongitudeOverrun:
      return "Error: Mean longitude offset range overrun.";
    case kResultHelmertParameterOverrun:
      return "Error: Helmert parameter range overrun.";
    case kResultMeanHeightOverrun:
      return "Error: Mean height offset range overrun.";
    default:
      return "Unknown error.";
  }
}

inline std::string ResultText(int code) { return std::string(ResultTextView(code)); }

}  // namespace tarvik
