// Executing a parsed request against its configuration and creating its
// responses in the three formats.
#include <vector>

#include "geodesy/CPelProjectionDll.h"
#include "module/CComputationChain.h"
#include "module/CConfigurationSettings.h"
#include "rtcm/ASCIIRendering.h"
#include "rtcm/FieldRanges.h"
#include "rtcm/MessageData.h"
#include "service/RTCMMessageRequest.h"
#include "service/Responses.h"
#include "service/ResultText.h"
#include "service/XMLResponseDocument.h"

namespace tarvik {

namespace {

std::vector<GridResidual> ResidualsOf(const std::vector<CGeoPoint>& nodes) {
  std::vector<GridResidual> residuals;
  residuals.reserve(nodes.size());
  for (const CGeoPoint& n : nodes)
    residuals.push_back(GridResidual{n.latitudeResidual, n.longitudeResidual, n.heightResidual});
  return residuals;
}

// A request that failed sends the invalid area, with whatever the records
// hold from the steps that ran. Its computation may have stopped precisely
// because a value did not fit: such a value goes out as 0, not wrapped.
double Fitting(double value, const FieldRange& range) { return range.fits(value) ? value : 0.0; }

HelmertMessageData FittingValues(HelmertMessageData h) {
  h.DX = Fitting(h.DX, k1021Translation);
  h.DY = Fitting(h.DY, k1021Translation);
  h.DZ = Fitting(h.DZ, k1021Translation);
  h.R1 = Fitting(h.R1, k1021Rotation);
  h.R2 = Fitting(h.R2, k1021Rotation);
  h.R3 = Fitting(h.R3, k1021Rotation);
  if (!k1021Scale.fits(h.ScaleFactor)) h.ScaleFactor = 1.0;
  return h;
}

ResidualGridMessageData FittingValues(ResidualGridMessageData g) {
  g.MeanLatitudeOffset = Fitting(g.MeanLatitudeOffset, k1023MeanHorizontalOffset);
  g.MeanLongitudeOffset = Fitting(g.MeanLongitudeOffset, k1023MeanHorizontalOffset);
  g.MeanHeightOffset = Fitting(g.MeanHeightOffset, k1023MeanHeightOffset);
  return g;
}

void FitValues(std::vector<GridResidual>& residuals) {
  for (GridResidual& r : residuals) {
    r.dLatitude = Fitting(r.dLatitude, k1023HorizontalResidual);
    r.dLongitude = Fitting(r.dLongitude, k1023HorizontalResidual);
    r.dHeight = Fitting(r.dHeight, k1023HeightResidual);
  }
}

RenderRequest RenderValues(const RTCMMessageRequest& request) {
  RenderRequest r;
  r.executed = request.executed;
  r.errorText = ResultTextView(request.resultCode);
  if (request.configuration != nullptr) {
    r.errorHandling = request.configuration->ErrorHandling;
    r.planCode = request.configuration->PlanCode;
  }
  r.Version = request.Version;
  r.User = request.User;
  r.Password = request.Password;
  return r;
}

// Shared by the ASCII and XML responses: one rendering per active message
// for a GGA request, else the bare text of the result code.
template <typename Response, typename Render>
int CreateTextResponses(RTCMMessageRequest& request, std::vector<Response>& responses, Render render) {
  if (request.messageType != kMessageTypeGGA || request.configuration == nullptr) {
    request.log().write(0, PelLogError, kRequestLogSource,
                        "MessageType is neither not NMEA. Other message types are not supported.");
    responses.emplace_back(ResultText(request.resultCode));
    request.resultCode = kResultUnknownRequest;
    return request.resultCode;
  }
  const CConfigurationSettings& c = *request.configuration;
  const RenderRequest values = RenderValues(request);
  const std::vector<CGeoPoint>& gridPoints = request.gridPoints;
  std::vector<GridResidual> residuals;
  for (int number : c.ActiveMessages) {
    if (number != 1021 && number != 1023 && number != 1025) continue;
    if (number == 1023 && residuals.empty()) residuals = ResidualsOf(gridPoints);
    responses.emplace_back(render(number, c, residuals, values));
  }
  request.resultCode = kResultSuccess;
  return kResultSuccess;
}

}  // namespace

int RTCMMessageRequest::CreateASCIIResponses(std::vector<CRTCMASCIIResponse>& responses) {
  return CreateTextResponses(*this, responses,
                             [](int number, const CConfigurationSettings& c,
                                const std::vector<GridResidual>& residuals, const RenderRequest& values) {
                               if (number == 1021) return renderASCII1021(c.Helmert, values);
                               if (number == 1023) return renderASCII1023(c.ResidualGrid, residuals, values);
                               return renderASCII1025(c.Projection, values);
                             });
}

int RTCMMessageRequest::CreateXMLResponses(std::vector<CRTCMXMLResponse>& responses) {
  return CreateTextResponses(*this, responses,
                             [](int number, const CConfigurationSettings& c,
                                const std::vector<GridResidual>& residuals, const RenderRequest& values) {
                               if (number == 1021) return xml1021(c.Helmert, values);
                               if (number == 1023) return xml1023(c.ResidualGrid, residuals, values);
                               return xml1025(c.Projection, values);
                             });
}

void RTCMMessageRequest::SetConfiguration(CConfigurationSettings& settings) {
  configuration = &settings;
  setLogConfiguration(settings.ConfigurationName);
}

int RTCMMessageRequest::Execute() {
  if (configuration == nullptr) {
    resultCode = kResultNotExecuted;
    return resultCode;
  }
  CPelProjectionDll projection;
  CComputationChain chain(*configuration, projection, gridPoints);
  int result = chain.Run(latitude, longitude, height);
  resultCode = result;
  if (result == kResultSuccess) executed = 1;
  return result;
}

int RTCMMessageRequest::CreateBinaryResponses(std::vector<CRTCMBinaryResponse>& responses) {
  if (configuration == nullptr) return resultCode;
  const CConfigurationSettings& c = *configuration;
  std::vector<GridResidual> residuals;
  for (int number : c.ActiveMessages) {
    RTCMFrame frame;
    if (number == 1021) {
      frame = encode1021(executed ? c.Helmert : FittingValues(c.Helmert), c.PlanCode, executed);
    } else if (number == 1023) {
      if (residuals.empty()) residuals = ResidualsOf(gridPoints);
      if (!executed) FitValues(residuals);
      frame = encode1023(executed ? c.ResidualGrid : FittingValues(c.ResidualGrid), executed, residuals);
    } else if (number == 1025) {
      frame = encode1025(c.Projection);
    } else {
      continue;
    }
    responses.emplace_back(number, std::move(frame.bytes));
    resultCode = kResultSuccess;
  }
  return resultCode;
}

}  // namespace tarvik
