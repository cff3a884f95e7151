#pragma once
// The configuration values of one transformation module, read from its INI
// file by CRTCMTransformationMessageModule::ReadConfiguration. A request
// holds a pointer to them; all computation reads its values from here and
// writes the per-request fields of the three message records.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "rtcm/ASCIIRendering.h"
#include "rtcm/MessageData.h"

namespace tarvik {

// Response formats of a configuration (RTCMFormat).
constexpr int kRTCMFormatASCII = 1;
constexpr int kRTCMFormatBinary = 2;
constexpr int kRTCMFormatXML = 3;

// "BINARY" and "XML" in any case and with blanks around; anything else is ASCII.
int ParseRTCMFormat(std::string_view text);

// Longest NTRIP mount point accepted.
constexpr std::size_t kNtripMountPointMaxLength = 100;
// True when `text` can be an NTRIP mount point: 1 to 100 letters, digits,
// '-', '_', '.' or '~', so that it stands in a request line and in a field
// of the caster's source table without escaping.
bool IsNtripMountPointName(std::string_view text);

// What a configuration takes over from the program-wide settings each time
// it is read: the defaults of its format and error handling, and the
// folders its database file names are relative to.
struct CGeneralModuleSettings {
  int RTCMFormat = kRTCMFormatASCII;
  int ErrorHandling = kErrorHandlingErrorMessages;
  std::string SapenDBPath;
  std::string OrvelDBPath;
  std::string GeoidGridPath;
};

class CMarloDll;
class CORVELDll;
class CGeoidGrid;

// Mode codes.
constexpr int kModeOther = 0;
constexpr int kModeLocal = 1;
constexpr int kModeRegional = 2;
// Plan codes.
constexpr int kPlanNone = 0;
constexpr int kPlanSapenDB = 1;
// Height codes.
constexpr int kHeightNone = 0;
constexpr int kHeightSapenDB = 1;
constexpr int kHeightOrvelDB = 2;   // height library, longitudes 0..360
constexpr int kHeightOrvelDB2 = 3;  // height library, longitudes -180..180
constexpr int kHeightGeoidGrid = 4;

// The height the plan step subtracts from the request's height when no
// height source is configured: a typical geoid undulation over Central
// Europe, the region the program was first run for.
constexpr double kDefaultMeanGeoidHeight = 42.0;
// Written into MeanGeoidHeight by configuration tools for "not set".
constexpr double kMeanGeoidHeightNotSet = -9999.0;

class CConfigurationSettings {
 public:
  CConfigurationSettings();
  ~CConfigurationSettings();
  CConfigurationSettings(const CConfigurationSettings&) = delete;
  CConfigurationSettings& operator=(const CConfigurationSettings&) = delete;

  int RTCMFormat = kRTCMFormatASCII;
  int ErrorHandling = kErrorHandlingErrorMessages;
  std::string ConfigurationName;
  int PORTNUM = 0;
  int RequestType = 0;
  // Mount point of the configuration on the NTRIP caster: the key
  // NtripMountPoint, else the configuration's name when it can be one;
  // empty when the configuration has none.
  std::string NtripMountPoint;
  std::vector<int> ActiveMessages;
  std::string Mode;  // upper case as kept
  int ModeCode = kModeOther;
  std::string PlanType;  // upper case
  std::string PlanDB;    // full path when the plan code is 1
  int PlanCode = kPlanNone;
  std::string HeightType;  // upper case
  std::string HeightDB;    // full path for the height codes 2, 3, 4
  int HeightCode = kHeightNone;
  double MeanGeoidHeight = kDefaultMeanGeoidHeight;
  // Configured ITRF-to-target Helmert transformation: rotations in degrees,
  // translations in metres, scale as a factor.
  double RX = 0.0, RY = 0.0, RZ = 0.0;
  double TX = 0.0, TY = 0.0, TZ = 0.0;
  double S = 1.0;

  HelmertMessageData Helmert;
  ResidualGridMessageData ResidualGrid;
  ProjectionMessageData Projection;

  // Bindings of the module's library copies and its geoid grid; never null.
  CMarloDll& Marlo() { return *marlo_; }
  CORVELDll& Orvel() { return *orvel_; }
  CGeoidGrid& GeoidGrid() { return *geoidGrid_; }
  const CGeoidGrid& GeoidGrid() const { return *geoidGrid_; }

  // Puts every value back to its state before any read; the bindings are
  // released and replaced by fresh ones.
  void Reset();

 private:
  std::unique_ptr<CMarloDll> marlo_;
  std::unique_ptr<CORVELDll> orvel_;
  std::unique_ptr<CGeoidGrid> geoidGrid_;
};

}  // namespace tarvik
