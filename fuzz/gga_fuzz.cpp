// GGA parsing of arbitrary request texts: Parse must return one of its
// three codes, keep it as the result code, and give a finite position
// whenever it reports success.

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "FuzzFile.h"
#include "runtime/ProgramFolder.h"
#include "service/RTCMMessageRequest.h"

namespace {
// Only the parsing is exercised; the request's execution and response
// operations are stubbed so the target does not depend on them.
struct ParseOnly : tarvik::RTCMMessageRequest {
  int Execute() override { return 1; }
  int CreateASCIIResponses(std::vector<tarvik::CRTCMASCIIResponse>&) override { return 1; }
  int CreateXMLResponses(std::vector<tarvik::CRTCMXMLResponse>&) override { return 1; }
  int CreateBinaryResponses(std::vector<tarvik::CRTCMBinaryResponse>&) override { return 1; }
};
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The request logs every parse problem; keep those lines out of the tree.
  tarvik::SetProgramFolder(fuzzing::ScratchFolder());
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 8096) return 0;  // a request never exceeds the read capacity
  std::string text(reinterpret_cast<const char*>(data), size);
  ParseOnly request;
  int rc = request.Parse(text);
  if (rc != 1 && rc != -1000 && rc != -1003) std::abort();
  if (request.resultCode != rc) std::abort();
  if (rc == 1 && (!std::isfinite(request.latitude) || !std::isfinite(request.longitude))) std::abort();
  std::string field = text;
  for (int i = 0; i < 20; ++i) (void)tarvik::RTCMMessageRequest::NextNMEAField(field);
  double degrees = 0;
  (void)tarvik::RTCMMessageRequest::ConvertNMEAAngle(text, degrees);
  return 0;
}
