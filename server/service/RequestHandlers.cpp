#include "service/RequestHandlers.h"

#include "module/CConfigurationSettings.h"
#include "runtime/PelLog.h"
#include "service/RTCMMessageRequest.h"
#include "service/Responses.h"
#include "service/ResultText.h"

namespace tarvik {

namespace {

// Steps shared by the three handlers; `respond` creates the responses.
template <typename Respond>
int Handle(const std::string& request, CConfigurationSettings& configuration, Respond respond) {
  RTCMMessageRequest r;
  r.SetConfiguration(configuration);
  if (r.Parse(request) == 1) {
    int result = r.Execute();
    if (result != 1) {
      PelLog log(configuration.ConfigurationName);
      log.write(0, PelLogError, "Tarvik:" + configuration.ConfigurationName, ResultText(result));
    }
  }
  respond(r);
  return 1;
}

}  // namespace

int handleASCII(const std::string& request, std::vector<CRTCMASCIIResponse>& responses,
                CConfigurationSettings& configuration) {
  return Handle(request, configuration, [&](RTCMMessageRequest& r) { r.CreateASCIIResponses(responses); });
}

int handleXML(const std::string& request, std::vector<CRTCMXMLResponse>& responses,
              CConfigurationSettings& configuration) {
  return Handle(request, configuration, [&](RTCMMessageRequest& r) { r.CreateXMLResponses(responses); });
}

int handleBinary(const std::string& request, std::vector<CRTCMBinaryResponse>& responses,
                 CConfigurationSettings& configuration) {
  return Handle(request, configuration, [&](RTCMMessageRequest& r) { r.CreateBinaryResponses(responses); });
}

}  // namespace tarvik
