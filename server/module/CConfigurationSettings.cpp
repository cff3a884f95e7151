#include "module/CConfigurationSettings.h"

#include "geodesy/CGeoidGrid.h"
#include "geodesy/CMarloDll.h"
#include "geodesy/CORVELDll.h"
#include "runtime/CFileIni.h"

namespace tarvik {

int ParseRTCMFormat(std::string_view text) {
  const std::string v = CFileIni::UpperTrimmed(text);
  if (v == "BINARY") return kRTCMFormatBinary;
  if (v == "XML") return kRTCMFormatXML;
  return kRTCMFormatASCII;
}

bool IsNtripMountPointName(std::string_view text) {
  if (text.empty() || text.size() > kNtripMountPointMaxLength) return false;
  for (unsigned char c : text) {
    const bool letterOrDigit = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (!letterOrDigit && c != '-' && c != '_' && c != '.' && c != '~') return false;
  }
  return true;
}

CConfigurationSettings::CConfigurationSettings()
    : marlo_(std::make_unique<CMarloDll>()),
      orvel_(std::make_unique<CORVELDll>()),
      geoidGrid_(std::make_unique<CGeoidGrid>()) {}

CConfigurationSettings::~CConfigurationSettings() = default;

void CConfigurationSettings::Reset() {
  // Release the libraries first so their copies may be replaced.
  marlo_.reset();
  orvel_.reset();
  geoidGrid_.reset();
  RTCMFormat = kRTCMFormatASCII;
  ErrorHandling = kErrorHandlingErrorMessages;
  ConfigurationName.clear();
  PORTNUM = 0;
  RequestType = 0;
  NtripMountPoint.clear();
  ActiveMessages.clear();
  Mode.clear();
  ModeCode = kModeOther;
  PlanType.clear();
  PlanDB.clear();
  PlanCode = kPlanNone;
  HeightType.clear();
  HeightDB.clear();
  HeightCode = kHeightNone;
  MeanGeoidHeight = kDefaultMeanGeoidHeight;
  RX = RY = RZ = TX = TY = TZ = 0.0;
  S = 1.0;
  Helmert = HelmertMessageData();
  ResidualGrid = ResidualGridMessageData();
  Projection = ProjectionMessageData();
  marlo_ = std::make_unique<CMarloDll>();
  orvel_ = std::make_unique<CORVELDll>();
  geoidGrid_ = std::make_unique<CGeoidGrid>();
}

}  // namespace tarvik
