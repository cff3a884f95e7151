#pragma once
// The request path of one configuration: one request text in, the list of
// responses of the configuration's format out. Called by the session with
// the configuration's lock held.

#include <string>
#include <vector>

namespace tarvik {

class CConfigurationSettings;
class CRTCMASCIIResponse;
class CRTCMXMLResponse;
class CRTCMBinaryResponse;

// Each parses the request, executes it when it is a valid GGA sentence
// (logging the result text of a failed execution) and appends the responses;
// each returns 1.
int handleASCII(const std::string& request, std::vector<CRTCMASCIIResponse>& responses,
                CConfigurationSettings& configuration);
int handleXML(const std::string& request, std::vector<CRTCMXMLResponse>& responses,
              CConfigurationSettings& configuration);
int handleBinary(const std::string& request, std::vector<CRTCMBinaryResponse>& responses,
                 CConfigurationSettings& configuration);

}  // namespace tarvik
