#include "service/RequestAnswer.h"

#include "module/CConfigurationSettings.h"
#include "runtime/PelLog.h"
#include "service/RTCMMessageRequest.h"
#include "service/Responses.h"
#include "service/ResultText.h"

namespace tarvik {

namespace {

// Steps shared by the three formats; `respond` creates the responses.
template <typename Respond>
int Answer(const std::string& request, CConfigurationSettings& configuration, int* resultCode,
           Respond respond) {
  RTCMMessageRequest r;
  r.SetConfiguration(configuration);
  if (r.Parse(request) == kResultSuccess) {
    const int result = r.Execute();
    if (result != kResultSuccess) {
      PelLog log(configuration.ConfigurationName);
      log.write(0, PelLogError, "Tarvik:" + configuration.ConfigurationName, ResultText(result));
    }
  }
  // Making the responses sets the code again (to success when they could be
  // made, whatever the execution gave); the request's code is the first
  // failure.
  const int answered = r.resultCode;
  respond(r);
  if (resultCode) *resultCode = answered != kResultSuccess ? answered : r.resultCode;
  return kResultSuccess;
}

template <typename Response>
void AppendTexts(std::vector<Response>& responses, std::vector<SessionReply>& replies) {
  for (Response& r : responses) replies.push_back(SessionReply{0, std::move(r.text)});
}

}  // namespace

int AnswerInASCII(const std::string& request, std::vector<CRTCMASCIIResponse>& responses,
                  CConfigurationSettings& configuration, int* resultCode) {
  return Answer(request, configuration, resultCode,
                [&](RTCMMessageRequest& r) { r.CreateASCIIResponses(responses); });
}

int AnswerInXML(const std::string& request, std::vector<CRTCMXMLResponse>& responses,
                CConfigurationSettings& configuration, int* resultCode) {
  return Answer(request, configuration, resultCode,
                [&](RTCMMessageRequest& r) { r.CreateXMLResponses(responses); });
}

int AnswerInBinary(const std::string& request, std::vector<CRTCMBinaryResponse>& responses,
                   CConfigurationSettings& configuration, int* resultCode) {
  return Answer(request, configuration, resultCode,
                [&](RTCMMessageRequest& r) { r.CreateBinaryResponses(responses); });
}

int AnswerRequest(const std::string& request, CConfigurationSettings& configuration,
                  std::vector<SessionReply>& replies, int& resultCode) {
  resultCode = 0;
  const int format = configuration.RTCMFormat;
  switch (format) {
    case kRTCMFormatASCII: {
      std::vector<CRTCMASCIIResponse> texts;
      AnswerInASCII(request, texts, configuration, &resultCode);
      AppendTexts(texts, replies);
      break;
    }
    case kRTCMFormatXML: {
      std::vector<CRTCMXMLResponse> documents;
      AnswerInXML(request, documents, configuration, &resultCode);
      AppendTexts(documents, replies);
      break;
    }
    case kRTCMFormatBinary: {
      std::vector<CRTCMBinaryResponse> frames;
      AnswerInBinary(request, frames, configuration, &resultCode);
      for (CRTCMBinaryResponse& f : frames)
        replies.push_back(SessionReply{f.messageNumber, std::string(f.bytes.begin(), f.bytes.end())});
      break;
    }
    default:
      break;  // unknown format: nothing is answered
  }
  return format;
}

}  // namespace tarvik
