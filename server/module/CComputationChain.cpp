#include "module/CComputationChain.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <string>

#include "geodesy/C3DTrafo.h"
#include "geodesy/CGeoidGrid.h"
#include "geodesy/CMarloDll.h"
#include "geodesy/CORVELDll.h"
#include "geodesy/CPelProjectionDll.h"
#include "module/CConfigurationSettings.h"
#include "rtcm/FieldRanges.h"
#include "rtcm/MessageData.h"

namespace tarvik {

namespace {
constexpr double kRho = 180.0 / 3.14159265358979323846;  // degrees per radian
constexpr int kGridSize = 4;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
}  // namespace

namespace {

// count values, kept inline up to a grid's worth (no allocation per request).
template <typename T>
class GridBuffer {
 public:
  GridBuffer(std::size_t count, T value) : count_(count) {
    if (count > kInline) heap_.resize(count);
    data_ = count > kInline ? heap_.data() : inline_.data();
    std::fill(data_, data_ + count, value);
  }
  GridBuffer(const GridBuffer&) = delete;
  GridBuffer& operator=(const GridBuffer&) = delete;

  T* data() { return data_; }
  const T* data() const { return data_; }
  std::size_t size() const { return count_; }
  T& operator[](std::size_t k) { return data_[k]; }
  const T& operator[](std::size_t k) const { return data_[k]; }

 private:
  static constexpr std::size_t kInline = 3 * kGridSize * kGridSize;
  std::size_t count_;
  std::array<T, kInline> inline_;
  std::vector<T> heap_;
  T* data_;
};

// The adjustment's point number of node k: "1", "2", ... from a table for
// the grid's nodes; others are written into spare.
constexpr std::size_t kGridNodes = kGridSize * kGridSize;
const std::string& PointNumber(std::size_t k, std::string& spare) {
  static const std::array<std::string, kGridNodes> kGridNumbers = [] {
    std::array<std::string, kGridNodes> numbers;
    for (std::size_t n = 0; n < numbers.size(); ++n) numbers[n] = std::to_string(n + 1);
    return numbers;
  }();
  if (k < kGridNumbers.size()) return kGridNumbers[k];
  spare = std::to_string(k + 1);
  return spare;
}

}  // namespace

// Three coordinates of count points, in three arrays, each value NaN until
// set; a grid's worth of points is kept inline.
class CoordinateArrays {
 public:
  explicit CoordinateArrays(std::size_t count) : count_(count), values_(3 * count, kNaN) {}
  CoordinateArrays(const CoordinateArrays&) = delete;
  CoordinateArrays& operator=(const CoordinateArrays&) = delete;

  std::size_t Count() const { return count_; }
  double* First() { return values_.data(); }
  double* Second() { return values_.data() + count_; }
  double* Third() { return values_.data() + 2 * count_; }
  const double* First() const { return values_.data(); }
  const double* Second() const { return values_.data() + count_; }
  const double* Third() const { return values_.data() + 2 * count_; }
  void Set(std::size_t k, double first, double second, double third) {
    First()[k] = first;
    Second()[k] = second;
    Third()[k] = third;
  }
  bool Finite(std::size_t k) const {
    return std::isfinite(First()[k]) && std::isfinite(Second()[k]) && std::isfinite(Third()[k]);
  }
  // How many leading points of the first `converted` are finite.
  std::size_t FinitePrefix(std::size_t converted) const {
    std::size_t k = 0;
    while (k < converted && k < count_ && Finite(k)) ++k;
    return k;
  }

 private:
  std::size_t count_;
  GridBuffer<double> values_;
};

CComputationChain::CComputationChain(CConfigurationSettings& configuration, CPelProjectionDll& projection,
                                     std::vector<CGeoPoint>& nodes)
    : cfg_(configuration), projection_(projection), nodes_(nodes) {}

// The binding pushes its whole state copy, axes included, before every
// conversion, so the ellipsoid only needs setting when it changes.
bool CComputationChain::UseEllipsoid(double a, double b) {
  const ProjectionStateValues& state = projection_.State();
  if (state.a == a && state.b == b && projection_.IsReady()) return true;
  return projection_.SetEllipsoid(a, b) == kProjectionOK;
}

// Outputs start as NaN and must come back finite: the projection library
// leaves them untouched where its conversion does not apply (near the poles,
// far above the ellipsoid), and such a node must fail the request instead of
// going on with whatever the variables held.
bool CComputationChain::ToCartesian(double a, double b, double lat, double lon, double h, double& x,
                                    double& y, double& z) {
  x = y = z = std::numeric_limits<double>::quiet_NaN();
  return UseEllipsoid(a, b) && projection_.GeographicToCartesian(lat, lon, h, x, y, z) == kProjectionOK &&
         std::isfinite(x) && std::isfinite(y) && std::isfinite(z);
}

bool CComputationChain::ToGeographic(double a, double b, double x, double y, double z, double& lat,
                                     double& lon, double& h) {
  lat = lon = h = std::numeric_limits<double>::quiet_NaN();
  return UseEllipsoid(a, b) && projection_.CartesianToGeographic(x, y, z, lat, lon, h) == kProjectionOK &&
         std::isfinite(lat) && std::isfinite(lon) && std::isfinite(h);
}

std::size_t CComputationChain::ToCartesian(double a, double b, const CoordinateArrays& geographic,
                                           CoordinateArrays& cartesian) {
  const int count = static_cast<int>(geographic.Count());
  int converted = 0;
  if (!UseEllipsoid(a, b) ||
      projection_.GeographicToCartesian(count, geographic.First(), geographic.Second(), geographic.Third(),
                                        cartesian.First(), cartesian.Second(), cartesian.Third(),
                                        converted) != kProjectionOK)
    return cartesian.FinitePrefix(static_cast<std::size_t>(converted));
  return cartesian.FinitePrefix(geographic.Count());
}

std::size_t CComputationChain::ToGeographic(double a, double b, const CoordinateArrays& cartesian,
                                            CoordinateArrays& geographic) {
  const int count = static_cast<int>(cartesian.Count());
  int converted = 0;
  if (!UseEllipsoid(a, b) ||
      projection_.CartesianToGeographic(count, cartesian.First(), cartesian.Second(), cartesian.Third(),
                                        geographic.First(), geographic.Second(), geographic.Third(),
                                        converted) != kProjectionOK)
    return geographic.FinitePrefix(static_cast<std::size_t>(converted));
  return geographic.FinitePrefix(cartesian.Count());
}

int CComputationChain::Run(double latitude, double longitude, double height) {
  int result = OriginByMode(latitude, longitude);
  if (result == kResultSuccess) result = Grid(height);
  if (result == kResultSuccess && cfg_.PlanCode == kPlanSapenDB) result = PlanPositions(height);
  if (result == kResultSuccess && (cfg_.HeightCode == kHeightOrvelDB || cfg_.HeightCode == kHeightOrvelDB2))
    result = HeightLibrary();
  if (result == kResultSuccess && cfg_.HeightCode == kHeightGeoidGrid) result = GeoidGrid();
  if (result == kResultSuccess && cfg_.PlanCode == kPlanSapenDB) result = HelmertAdjustment();
  return result;
}

int CComputationChain::OriginByMode(double latitude, double longitude) {
  HelmertMessageData& h = cfg_.Helmert;
  ResidualGridMessageData& g = cfg_.ResidualGrid;
  if (cfg_.ModeCode == kModeRegional) return kResultRegionalNotImplemented;
  if (cfg_.ModeCode == kModeLocal) {
    h.LatitudeOfOriginAreaOfValidity = latitude;
    h.LongitudeOfOriginAreaOfValidity = longitude;
    g.GridOriginLatitude = latitude;
    g.GridOriginLongitude = longitude;
  }
  g.GridExtensionLatitude = h.LatitudeExtensionAreaOfValidity;
  g.GridExtensionLongitude = h.LongitudeExtensionAreaOfValidity;
  return kResultSuccess;
}

int CComputationChain::Grid(double height) {
  nodes_.clear();
  if (!projection_.IsReady()) return kResultPelProjectionAccess;
  const HelmertMessageData& h = cfg_.Helmert;
  const double sa = h.SemimajorAxisOfSourceSystemEllipsoid, sb = h.SemiminorAxisOfSourceSystemEllipsoid;
  const double ta = h.SemimajorAxisOfTargetSystemEllipsoid, tb = h.SemiminorAxisOfTargetSystemEllipsoid;

  C3DTrafo configured;
  configured.SetParameters(cfg_.RX / kRho, cfg_.RY / kRho, cfg_.RZ / kRho, cfg_.TX, cfg_.TY, cfg_.TZ, cfg_.S);

  double x, y, z, tx, ty, tz, originLat, originLon, originH;
  if (!ToCartesian(sa, sb, h.LatitudeOfOriginAreaOfValidity, h.LongitudeOfOriginAreaOfValidity, height, x, y,
                   z))
    return kResultPelProjectionAccess;
  configured.TransformForward(x, y, z, tx, ty, tz);
  if (!ToGeographic(ta, tb, tx, ty, tz, originLat, originLon, originH)) return kResultPelProjectionAccess;
  // The grid is laid around an origin that 1023 carries exactly (the
  // nearest half arc-second), so a rover that places the nodes from the
  // message finds them where their residuals were computed, not up to
  // 15 m away.
  originLat = Sendable(originLat, k1023OriginLatitude.scale);
  originLon = Sendable(originLon, k1023OriginLongitude.scale);
  cfg_.ResidualGrid.GridOriginLatitude = originLat;
  cfg_.ResidualGrid.GridOriginLongitude = originLon;

  const double north = originLat + h.LatitudeExtensionAreaOfValidity / 2.0;
  const double south = north - h.LatitudeExtensionAreaOfValidity;
  // A grid reaching over a pole has no nodes on the ellipsoid there.
  if (north > 90.0 || south < -90.0) return kResultPelProjectionAccess;
  const double west = originLon - h.LongitudeExtensionAreaOfValidity / 2.0;
  const double latStep = h.LatitudeExtensionAreaOfValidity / 3.0;
  const double lonStep = h.LongitudeExtensionAreaOfValidity / 3.0;
  // All nodes go through each conversion together; a node is taken only
  // when it and every node before it converted, as one conversion after
  // the other in grid order would have stopped at the first failure.
  constexpr std::size_t kNodes = kGridSize * kGridSize;
  CoordinateArrays targetNodes(kNodes), targetCartesian(kNodes), sourceCartesian(kNodes), sourceNodes(kNodes);
  for (int i = 0; i < kGridSize; ++i)
    for (int j = 0; j < kGridSize; ++j)
      targetNodes.Set(static_cast<std::size_t>(i * kGridSize + j), north - i * latStep, west + j * lonStep,
                      originH);
  const std::size_t cartesianDone = ToCartesian(ta, tb, targetNodes, targetCartesian);
  for (std::size_t k = 0; k < kNodes; ++k)
    configured.TransformInverse(targetCartesian.First()[k], targetCartesian.Second()[k],
                                targetCartesian.Third()[k], sourceCartesian.First()[k],
                                sourceCartesian.Second()[k], sourceCartesian.Third()[k]);
  const std::size_t geographicDone = ToGeographic(sa, sb, sourceCartesian, sourceNodes);
  const std::size_t done = std::min(cartesianDone, geographicDone);
  nodes_.reserve(kNodes);
  for (std::size_t k = 0; k < done; ++k) {
    CGeoPoint node;
    node.sourceX = sourceCartesian.First()[k];
    node.sourceY = sourceCartesian.Second()[k];
    node.sourceZ = sourceCartesian.Third()[k];
    node.sourceLatitude = sourceNodes.First()[k];
    node.sourceLongitude = sourceNodes.Second()[k];
    node.sourceHeight = sourceNodes.Third()[k];
    nodes_.push_back(node);
  }
  return done == kNodes ? kResultSuccess : kResultPelProjectionAccess;
}

int CComputationChain::PlanPositions(double height) {
  CMarloDll& marlo = cfg_.Marlo();
  if (marlo.HasPointArrays()) {
    // All nodes in one call; the first node that failed decides, and the
    // nodes before it keep their positions, as node by node.
    const std::size_t count = nodes_.size();
    CoordinateArrays source(count), target(count);
    GridBuffer<int> results(count, MARLO_OK);
    for (std::size_t k = 0; k < count; ++k)
      source.Set(k, nodes_[k].sourceLongitude, nodes_[k].sourceLatitude, nodes_[k].sourceHeight);
    marlo.TransformPoints_BLH_in_BLH_out(static_cast<int>(count), source.First(), source.Second(),
                                         source.Third(), target.First(), target.Second(), target.Third(),
                                         results.data());
    for (std::size_t k = 0; k < count; ++k) {
      if (results[k] == MARLO_AREA_NOT_FOUND) return kResultOutsideDatabase;
      if (results[k] != MARLO_OK) return kResultMarloAccess;
      nodes_[k].targetLongitude = target.First()[k];
      nodes_[k].targetLatitude = target.Second()[k];
      nodes_[k].targetHeight = height - cfg_.MeanGeoidHeight;
    }
    return kResultSuccess;
  }
  for (CGeoPoint& node : nodes_) {
    double lon = 0.0, lat = 0.0, h = 0.0;
    int result = cfg_.Marlo().TransformPoint_BLH_in_BLH_out(node.sourceLongitude, node.sourceLatitude,
                                                            node.sourceHeight, lon, lat, h);
    if (result == MARLO_AREA_NOT_FOUND) return kResultOutsideDatabase;
    if (result != MARLO_OK) return kResultMarloAccess;
    node.targetLongitude = lon;
    node.targetLatitude = lat;
    node.targetHeight = height - cfg_.MeanGeoidHeight;
  }
  return kResultSuccess;
}

double CComputationChain::HeightLibraryLongitude(int heightCode, double longitude) {
  if (heightCode == kHeightOrvelDB && longitude < 0.0) return longitude + 360.0;
  return longitude;
}

double CComputationChain::Sendable(double value, double unitsPerValue) {
  if (!std::isfinite(value)) return value;
  // The same product as the encoder's, rounded instead of truncated.
  const double units = std::round(value * unitsPerValue);
  double sent = units / unitsPerValue;
  // The nearest double to units / unitsPerValue may truncate to one unit
  // lower in the encoder; step away from zero until it encodes as intended
  // (one ulp at most).
  const double away = units < 0.0 ? -HUGE_VAL : HUGE_VAL;
  while (std::trunc(sent * unitsPerValue) != units) sent = std::nextafter(sent, away);
  return sent;
}

int CComputationChain::MeanHeightResiduals() {
  if (nodes_.empty()) return kResultSuccess;
  double sum = 0.0;
  for (const CGeoPoint& node : nodes_) sum += node.heightAnomaly;
  const double mean = sum / static_cast<double>(nodes_.size());
  cfg_.ResidualGrid.MeanHeightOffset = mean;
  for (CGeoPoint& node : nodes_) node.heightResidual = node.heightAnomaly - mean;
  if (!(std::fabs(mean) <= kMaxMeanHeightOffset)) return kResultMeanHeightOverrun;
  // The mean travels in whole centimetres: it is sent as the nearest one,
  // and the rest goes into every node's residual (millimetres), so mean
  // plus residual, which is what a rover applies, stays the node's anomaly.
  const double sent = Sendable(mean, k1023MeanHeightOffset.scale);
  for (CGeoPoint& node : nodes_) node.heightResidual = node.heightAnomaly - sent;
  cfg_.ResidualGrid.MeanHeightOffset = sent;
  if (const int checked = CheckHeightResiduals(nodes_, sent); checked != kResultSuccess) return checked;
  // Each residual as the nearest millimetre, not truncated.
  for (CGeoPoint& node : nodes_)
    node.heightResidual = Sendable(node.heightResidual, k1023HeightResidual.scale);
  return kResultSuccess;
}

int CComputationChain::CheckHeightResiduals(const std::vector<CGeoPoint>& nodes, double meanHeightOffset) {
  // Negated comparisons so that a NaN from a broken surface fails as well.
  if (!(std::fabs(meanHeightOffset) <= kMaxMeanHeightOffset)) return kResultMeanHeightOverrun;
  for (const CGeoPoint& node : nodes)
    if (!(std::fabs(node.heightResidual) <= kMaxHeightResidual)) return kResultResidualOverrun;
  return kResultSuccess;
}

int CComputationChain::HeightLibrary() {
  for (CGeoPoint& node : nodes_) {
    OrvelSurfaceValues out;
    int result = cfg_.Orvel().GetNFEMbyLatLongH(node.sourceLatitude,
                                                HeightLibraryLongitude(cfg_.HeightCode, node.sourceLongitude),
                                                node.sourceHeight, 1.0, out);
    if (result != ORVEL_OK) return kResultOrvelAccess;
    node.targetHeight = out.surfaceHeight;
    node.heightAnomaly = node.sourceHeight - out.surfaceHeight;
  }
  return MeanHeightResiduals();
}

int CComputationChain::GeoidGrid() {
  for (CGeoPoint& node : nodes_) {
    double n = 0.0;
    if (cfg_.GeoidGrid().Lookup(node.sourceLatitude, node.sourceLongitude, n) != kGeoidOK)
      return kResultGeoidGridAccess;
    node.heightAnomaly = n;
  }
  return MeanHeightResiduals();
}

// Negated comparisons throughout, so that a NaN fails like a value too large.
int CComputationChain::CheckResiduals(std::vector<CGeoPoint>& nodes, double meanLatitudeOffset,
                                      double meanLongitudeOffset) {
  if (!(std::fabs(meanLatitudeOffset) <= kMaxMeanOffset)) return kResultMeanLatitudeOverrun;
  if (!(std::fabs(meanLongitudeOffset) <= kMaxMeanOffset)) return kResultMeanLongitudeOverrun;
  for (CGeoPoint& node : nodes) {
    node.latitudeResidual -= meanLatitudeOffset;
    if (!(std::fabs(node.latitudeResidual) <= kMaxResidual)) return kResultResidualOverrun;
    node.longitudeResidual -= meanLongitudeOffset;
    if (!(std::fabs(node.longitudeResidual) <= kMaxResidual)) return kResultResidualOverrun;
  }
  return kResultSuccess;
}

int CComputationChain::CheckHelmertParameters(const HelmertMessageData& h) {
  for (double t : {h.DX, h.DY, h.DZ})
    if (!k1021Translation.fits(t)) return kResultHelmertParameterOverrun;
  for (double r : {h.R1, h.R2, h.R3})
    if (!k1021Rotation.fits(r)) return kResultHelmertParameterOverrun;
  if (!k1021Scale.fits(h.ScaleFactor)) return kResultHelmertParameterOverrun;
  return kResultSuccess;
}

int CComputationChain::HelmertAdjustment() {
  if (!projection_.IsReady()) return kResultPelProjectionAccess;
  HelmertMessageData& h = cfg_.Helmert;
  if (h.ComputationIndicator != kComputationStrictHelmert) return kResultComputationNotSupported;
  const double ta = h.SemimajorAxisOfTargetSystemEllipsoid, tb = h.SemiminorAxisOfTargetSystemEllipsoid;

  // Source points: the Cartesian coordinates the grid step converted the
  // nodes from (the same as converting their source positions again, without
  // the round trip).
  C3DTrafo trafo;
  trafo.Clear();
  CoordinateArrays targets(nodes_.size()), targetCartesian(nodes_.size());
  for (std::size_t k = 0; k < nodes_.size(); ++k)
    targets.Set(k, nodes_[k].targetLatitude, nodes_[k].targetLongitude, nodes_[k].targetHeight);
  const std::size_t converted = ToCartesian(ta, tb, targets, targetCartesian);
  for (std::size_t k = 0; k < nodes_.size(); ++k) {
    const CGeoPoint& node = nodes_[k];
    std::string spare;
    const std::string& id = PointNumber(k, spare);
    trafo.AddSourcePoint(id, node.sourceX, node.sourceY, node.sourceZ);
    if (k >= converted) return kResultPelProjectionAccess;
    trafo.AddTargetPoint(id, targetCartesian.First()[k], targetCartesian.Second()[k],
                         targetCartesian.Third()[k]);
  }
  if (trafo.Adjust() != C3DTrafo::kAdjustOK) return kResultHelmertFailed;

  double omega, phi, kappa, tx, ty, tz, m;
  trafo.GetParameters(omega, phi, kappa, tx, ty, tz, m);
  h.DX = tx;
  h.DY = ty;
  h.DZ = tz;
  h.R1 = omega * kRho;
  h.R2 = phi * kRho;
  h.R3 = kappa * kRho;
  h.ScaleFactor = m;
  if (const int fit = CheckHelmertParameters(h); fit != kResultSuccess) return fit;

  // The residuals are taken against the transformation as 1021 carries it
  // (parameters in millimetres, 0.00002" and 0.00001 ppm, semi-axes in
  // millimetres, all truncated), which is what a rover applies: otherwise
  // the truncation would shift its whole grid by up to a few millimetres
  // (the Bessel ellipsoid's semi-minor axis alone, 0.8 mm short, moves
  // latitudes by about 0.6 mm).
  const HelmertFieldValues fields = HelmertFields(h);
  C3DTrafo sent;
  sent.SetParameters(fields.R1() / kRho, fields.R2() / kRho, fields.R3() / kRho, fields.DX(), fields.DY(),
                     fields.DZ(), fields.ScaleFactor());
  // The nodes in the adjustment's order, converted together; the residuals
  // are taken in that order up to the first node whose conversion failed.
  GridBuffer<std::size_t> order(trafo.IdenticalPoints().size(), 0);
  std::size_t used = 0;
  for (const auto& point : trafo.IdenticalPoints())
    if (point.SourceIndex < nodes_.size()) order[used++] = point.SourceIndex;
  CoordinateArrays sources(used), sourceCartesian(used), helmertCartesian(used), helmert(used);
  for (std::size_t k = 0; k < used; ++k) {
    const CGeoPoint& node = nodes_[order[k]];
    sources.Set(k, node.sourceLatitude, node.sourceLongitude, node.sourceHeight);
  }
  const std::size_t cartesianDone = ToCartesian(fields.SourceA(), fields.SourceB(), sources, sourceCartesian);
  for (std::size_t k = 0; k < used; ++k)
    sent.TransformForward(sourceCartesian.First()[k], sourceCartesian.Second()[k], sourceCartesian.Third()[k],
                          helmertCartesian.First()[k], helmertCartesian.Second()[k],
                          helmertCartesian.Third()[k]);
  const std::size_t geographicDone =
      ToGeographic(fields.TargetA(), fields.TargetB(), helmertCartesian, helmert);
  const std::size_t done = std::min(cartesianDone, geographicDone);
  double latSum = 0.0, lonSum = 0.0;
  for (std::size_t k = 0; k < used; ++k) {
    if (k >= done) return kResultPelProjectionAccess;
    CGeoPoint& node = nodes_[order[k]];
    node.latitudeResidual = (node.targetLatitude - helmert.First()[k]) * 3600.0;
    node.longitudeResidual = (node.targetLongitude - helmert.Second()[k]) * 3600.0;
    latSum += node.latitudeResidual;
    lonSum += node.longitudeResidual;
  }
  const double count = static_cast<double>(nodes_.size());
  ResidualGridMessageData& g = cfg_.ResidualGrid;
  g.MeanLatitudeOffset = latSum / count;
  g.MeanLongitudeOffset = lonSum / count;
  if (!(std::fabs(g.MeanLatitudeOffset) <= kMaxMeanOffset)) return kResultMeanLatitudeOverrun;
  if (!(std::fabs(g.MeanLongitudeOffset) <= kMaxMeanOffset)) return kResultMeanLongitudeOverrun;
  // The means travel in units of 0.001": they are sent as the nearest
  // unit and the residuals are taken from those, so that the rest (up to
  // 1.5 cm on the ground) reaches the rover through the residuals' finer
  // fields instead of being cut off.
  g.MeanLatitudeOffset = Sendable(g.MeanLatitudeOffset, k1023MeanHorizontalOffset.scale);
  g.MeanLongitudeOffset = Sendable(g.MeanLongitudeOffset, k1023MeanHorizontalOffset.scale);
  if (const int checked = CheckResiduals(nodes_, g.MeanLatitudeOffset, g.MeanLongitudeOffset);
      checked != kResultSuccess)
    return checked;
  // Each residual goes out as the nearest value its field carries instead
  // of truncated toward zero: half the error at the node (0.46 mm north,
  // not 0.93 mm).
  for (CGeoPoint& node : nodes_) {
    node.latitudeResidual = Sendable(node.latitudeResidual, k1023HorizontalResidual.scale);
    node.longitudeResidual = Sendable(node.longitudeResidual, k1023HorizontalResidual.scale);
  }
  return kResultSuccess;
}

}  // namespace tarvik
