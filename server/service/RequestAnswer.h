#pragma once
// The request path of one configuration, one name per step:
//
//   request text --Parse--> RTCMMessageRequest --Execute--> CComputationChain
//   --> message records of the configuration --Create*Responses--> responses
//   --AnswerRequest--> the session's replies.
//
// Called by the session with the configuration's lock held.

#include <string>
#include <vector>

#include "service/ISessionHost.h"

namespace tarvik {

class CConfigurationSettings;
class CRTCMASCIIResponse;
class CRTCMXMLResponse;
class CRTCMBinaryResponse;

// Each parses the request, executes it when it is a valid GGA sentence
// (logging the result text of a failed execution) and appends the responses
// of its format; each returns 1.
int AnswerInASCII(const std::string& request, std::vector<CRTCMASCIIResponse>& responses,
                  CConfigurationSettings& configuration);
int AnswerInXML(const std::string& request, std::vector<CRTCMXMLResponse>& responses,
                CConfigurationSettings& configuration);
int AnswerInBinary(const std::string& request, std::vector<CRTCMBinaryResponse>& responses,
                   CConfigurationSettings& configuration);

// The one of the three that the configuration's format asks for, its
// responses appended to `replies`; returns that format (an unknown format
// gives no reply).
int AnswerRequest(const std::string& request, CConfigurationSettings& configuration,
                  std::vector<SessionReply>& replies);

}  // namespace tarvik
