// Time to parse one GGA sentence, to encode each frame and to render each
// message as text and as XML.

#include "rtcm/ASCIIRendering.h"
#include "rtcm/MessageData.h"
#include "service/RTCMMessageRequest.h"
#include "service/XMLResponseDocument.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

using namespace tarvik;

class ParseOnlyRequest : public RTCMMessageRequest {
 public:
  int Execute() override { return 1; }
  int CreateASCIIResponses(std::vector<CRTCMASCIIResponse>&) override { return 1; }
  int CreateXMLResponses(std::vector<CRTCMXMLResponse>&) override { return 1; }
  int CreateBinaryResponses(std::vector<CRTCMBinaryResponse>&) override { return 1; }
};

HelmertMessageData Helmert() {
  HelmertMessageData h;
  h.SourceName = "ETRS89";
  h.SourceNameCounter = 6;
  h.TargetName = "MGI_Austria";
  h.TargetNameCounter = 11;
  h.MessageLength = 52 + 17;
  h.InvolvedTransformationMessages = "1010000000";
  h.LatitudeOfOriginAreaOfValidity = 48.1173;
  h.LongitudeOfOriginAreaOfValidity = 15.5;
  h.LatitudeExtensionAreaOfValidity = 0.05;
  h.LongitudeExtensionAreaOfValidity = 0.075;
  h.DX = -577.326;
  h.DY = -90.129;
  h.DZ = -463.919;
  h.R1 = 5.137 / 3600;
  h.R2 = 1.474 / 3600;
  h.R3 = 5.297 / 3600;
  h.ScaleFactor = 1 - 2.4232e-6;
  h.SemimajorAxisOfSourceSystemEllipsoid = 6378137.0;
  h.SemiminorAxisOfSourceSystemEllipsoid = 6356752.314;
  h.SemimajorAxisOfTargetSystemEllipsoid = 6377397.155;
  h.SemiminorAxisOfTargetSystemEllipsoid = 6356078.963;
  return h;
}

ResidualGridMessageData Grid() {
  ResidualGridMessageData g;
  g.GridOriginLatitude = 48.1;
  g.GridOriginLongitude = 15.5;
  g.GridExtensionLatitude = 0.05;
  g.GridExtensionLongitude = 0.075;
  g.MeanLatitudeOffset = 0.05;
  g.MeanLongitudeOffset = -0.1;
  g.MeanHeightOffset = 1.2;
  return g;
}

std::vector<GridResidual> Nodes() {
  std::vector<GridResidual> n;
  for (int i = 0; i < 16; ++i) n.push_back({0.0001 * i, -0.0002 * i, 0.003 * i});
  return n;
}

ProjectionMessageData Projection() {
  ProjectionMessageData p;
  p.ProjectionType = 1;
  p.LongitudeOfNaturalOrigin = 13.333333;
  p.ScaleFactorAtNaturalOrigin = 1.0;
  p.FalseNorthing = -5000000;
  return p;
}

const RenderRequest kExecuted{1, "Success", kErrorHandlingErrorMessages, 1, {}, {}, {}};

// Every field present: parsing writes no log line.
void BM_ParseGGA(benchmark::State& state) {
  const std::string sentence = "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,2.0,0042*";
  for (auto _ : state) {
    ParseOnlyRequest r;
    benchmark::DoNotOptimize(r.Parse(sentence));
    benchmark::DoNotOptimize(r.height);
  }
}
BENCHMARK(BM_ParseGGA);

void BM_Encode1021(benchmark::State& state) {
  const HelmertMessageData h = Helmert();
  for (auto _ : state) benchmark::DoNotOptimize(encode1021(h, 1, 1));
}
BENCHMARK(BM_Encode1021);

void BM_Encode1023(benchmark::State& state) {
  const ResidualGridMessageData g = Grid();
  const std::vector<GridResidual> n = Nodes();
  for (auto _ : state) benchmark::DoNotOptimize(encode1023(g, 1, n, 61382));
}
BENCHMARK(BM_Encode1023);

void BM_Encode1023WithClock(benchmark::State& state) {
  const ResidualGridMessageData g = Grid();
  const std::vector<GridResidual> n = Nodes();
  for (auto _ : state) benchmark::DoNotOptimize(encode1023(g, 1, n));
}
BENCHMARK(BM_Encode1023WithClock);

void BM_Encode1025(benchmark::State& state) {
  const ProjectionMessageData p = Projection();
  for (auto _ : state) benchmark::DoNotOptimize(encode1025(p));
}
BENCHMARK(BM_Encode1025);

void BM_ASCII1021(benchmark::State& state) {
  const HelmertMessageData h = Helmert();
  for (auto _ : state) benchmark::DoNotOptimize(renderASCII1021(h, kExecuted));
}
BENCHMARK(BM_ASCII1021);

void BM_ASCII1023(benchmark::State& state) {
  const ResidualGridMessageData g = Grid();
  const std::vector<GridResidual> n = Nodes();
  for (auto _ : state) benchmark::DoNotOptimize(renderASCII1023(g, n, kExecuted));
}
BENCHMARK(BM_ASCII1023);

void BM_ASCII1025(benchmark::State& state) {
  const ProjectionMessageData p = Projection();
  for (auto _ : state) benchmark::DoNotOptimize(renderASCII1025(p, kExecuted));
}
BENCHMARK(BM_ASCII1025);

void BM_XML1021(benchmark::State& state) {
  const HelmertMessageData h = Helmert();
  for (auto _ : state) benchmark::DoNotOptimize(xml1021(h, kExecuted));
}
BENCHMARK(BM_XML1021);

void BM_XML1023(benchmark::State& state) {
  const ResidualGridMessageData g = Grid();
  const std::vector<GridResidual> n = Nodes();
  for (auto _ : state) benchmark::DoNotOptimize(xml1023(g, n, kExecuted));
}
BENCHMARK(BM_XML1023);

void BM_XML1025(benchmark::State& state) {
  const ProjectionMessageData p = Projection();
  for (auto _ : state) benchmark::DoNotOptimize(xml1025(p, kExecuted));
}
BENCHMARK(BM_XML1025);

void BM_XMLError(benchmark::State& state) {
  const ProjectionMessageData p = Projection();
  const RenderRequest failed{0, "Invalid NMEA-String.", kErrorHandlingErrorMessages, 1, {}, {}, {}};
  for (auto _ : state) benchmark::DoNotOptimize(xml1025(p, failed));
}
BENCHMARK(BM_XMLError);

}  // namespace
