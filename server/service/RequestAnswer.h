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
// of its format; each returns 1. `resultCode`, when given, gets the
// request's result code once its responses are made.
int AnswerInASCII(const std::string& request, std::vector<CRTCMASCIIResponse>& responses,
                  CConfigurationSettings& configuration, int* resultCode = nullptr);
int AnswerInXML(const std::string& request, std::vector<CRTCMXMLResponse>& responses,
                CConfigurationSettings& configuration, int* resultCode = nullptr);
int AnswerInBinary(const std::string& request, std::vector<CRTCMBinaryResponse>& responses,
                   CConfigurationSettings& configuration, int* resultCode = nullptr);

// The one of the three that the configuration's format asks for, its
// responses appended to `replies`; returns that format (an unknown format
// gives no reply). `resultCode` gets the request's result code (0 for an
// unknown format).
int AnswerRequest(const std::string& request, CConfigurationSettings& configuration,
                  std::vector<SessionReply>& replies, int& resultCode);

}  // namespace tarvik
