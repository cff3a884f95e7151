#include "module/CRTCMTransformationMessageModule.h"
#include "module/MarloInterpolationSettings.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "app/CTarvikSettings.h"
#include "geodesy/CGeoidGrid.h"
#include "geodesy/CMarloDll.h"
#include "geodesy/CORVELDll.h"
#include "runtime/CFileIni.h"
#include "runtime/ProgramFolder.h"
#include "service/RequestHandlers.h"
#include "service/Responses.h"

namespace tarvik {

namespace {

constexpr const char* kSettings = "Settings";
constexpr const char* kTransformation = "Transformation_ITRF_To_Target";

// File names of the libraries in the executable's folder and of their copies
// in the configuration folder.
constexpr const char* kMarloLibrary = "MarloDLL.so";
constexpr const char* kMarloCopy = "MarloDLL.so";
constexpr const char* kOrvelLibrary = "OrvelMan4.so";
constexpr const char* kOrvelCopy = "OrvelMan4.so.so";

// Copies through a temporary file and a rename, so a copy still mapped by
// this process (or another one) keeps its old contents intact instead of
// being overwritten underneath it.
bool CopyLibrary(const std::filesystem::path& source, const std::filesystem::path& destination) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(source, ec)) return false;
  std::filesystem::path temp = destination;
  temp += ".copy" + std::to_string(::getpid());
  if (!std::filesystem::copy_file(source, temp, std::filesystem::copy_options::overwrite_existing, ec)) {
    std::filesystem::remove(temp, ec);
    return false;
  }
  std::filesystem::rename(temp, destination, ec);
  if (ec) {
    std::filesystem::remove(temp, ec);
    return false;
  }
  return true;
}

std::string JoinPath(const std::string& folder, const std::string& file) {
  std::string f = CTarvikSettings::NormalisedPath(file);
  if (folder.empty()) return f;
  if (folder.back() == '/') return folder + f;
  return folder + "/" + f;
}

// "%d"-style conversion of one token; false when it holds no number.
bool ParseIntToken(const std::string& token, int& value) {
  const char* p = token.c_str();
  while (*p == ' ' || *p == '\t') ++p;
  const char* digits = p;
  if (*digits == '+' || *digits == '-') ++digits;
  if (*digits < '0' || *digits > '9') return false;
  long v = CFileIni::ParseLong(token);
  value = v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : static_cast<int>(v);
  return true;
}

bool IsSupportedMessage(int number) { return number == 1021 || number == 1023 || number == 1025; }

}  // namespace

CRTCMTransformationMessageModule::CRTCMTransformationMessageModule(std::string name,
                                                                   std::filesystem::path folder)
    : name_(std::move(name)), folder_(std::move(folder)), log_(name_), server_(*this) {
  settings_.ConfigurationName = name_;
}

CRTCMTransformationMessageModule::~CRTCMTransformationMessageModule() {
  server_.Stop();
  if (wasRead_) WriteTotalNumberOfRequests();
}

bool CRTCMTransformationMessageModule::ModuleValid() const {
  std::lock_guard<std::mutex> lock(info_);
  return valid_;
}

std::string CRTCMTransformationMessageModule::ModuleProblems() const {
  std::lock_guard<std::mutex> lock(info_);
  return problems_;
}

std::string CRTCMTransformationMessageModule::Name() const {
  std::lock_guard<std::mutex> lock(info_);
  return name_;
}

std::filesystem::path CRTCMTransformationMessageModule::Folder() const {
  std::lock_guard<std::mutex> lock(info_);
  return folder_;
}

std::filesystem::path CRTCMTransformationMessageModule::IniFile() const {
  std::lock_guard<std::mutex> lock(info_);
  return folder_ / (name_ + ".ini");
}

int CRTCMTransformationMessageModule::Port() const {
  std::lock_guard<std::mutex> lock(info_);
  return port_;
}

int CRTCMTransformationMessageModule::responseFormat() const {
  std::lock_guard<std::mutex> lock(info_);
  return format_;
}

void CRTCMTransformationMessageModule::countRequest() {
  ++requestsSinceStart_;
  ++totalRequests_;
}

bool CRTCMTransformationMessageModule::WriteTotalNumberOfRequests() const {
  CFileIni ini(IniFile());
  if (!ini.CanRead()) return false;
  return ini.WriteInt(kSettings, "TotalNumberOfRequests", totalRequests_.load());
}

int CRTCMTransformationMessageModule::StartServer() {
  if (!ModuleValid()) return -3;
  if (server_.isRunning()) return -2;
  requestsSinceStart_ = 0;
  int port = Port();
  if (port < 0 || port > 65535) return -1;
  return server_.Start(static_cast<uint16_t>(port));
}

void CRTCMTransformationMessageModule::StopServer() { server_.Stop(); }

bool CRTCMTransformationMessageModule::IsRunning() const { return server_.isRunning(); }

std::optional<std::chrono::system_clock::time_point> CRTCMTransformationMessageModule::StartTime() const {
  if (!server_.isRunning()) return std::nullopt;
  return server_.startTime();
}

int CRTCMTransformationMessageModule::BoundPort() const { return server_.boundPort(); }

int CRTCMTransformationMessageModule::ReadConfiguration(const CTarvikSettings& general,
                                                        const std::filesystem::path& folder,
                                                        const std::string& name) {
  std::lock_guard<std::mutex> compute(compute_);
  {
    std::lock_guard<std::mutex> lock(info_);
    folder_ = folder;
    name_ = name;
  }
  return ReadConfigurationLocked(general);
}

int CRTCMTransformationMessageModule::ReadConfiguration(const CTarvikSettings& general) {
  std::lock_guard<std::mutex> compute(compute_);
  return ReadConfigurationLocked(general);
}

void CRTCMTransformationMessageModule::Report(const std::string& text) {
  log_.write(0, PelLogError, "Tarvik:" + settings_.ConfigurationName, text);
  std::lock_guard<std::mutex> lock(info_);
  problems_ += text + "\n\n";
  valid_ = false;
}

int CRTCMTransformationMessageModule::ReadConfigurationLocked(const CTarvikSettings& general) {
  CConfigurationSettings& cfg = settings_;
  const std::filesystem::path folder = Folder();
  const std::string name = Name();
  const std::string prefix = "ReadConfiguration " + name + ": ";

  // 1. Fresh values; the libraries are released by the reset.
  cfg.Reset();
  {
    std::lock_guard<std::mutex> lock(info_);
    valid_ = true;
    problems_.clear();
  }
  wasRead_ = true;
  log_.setConfiguration(name);
  cfg.ConfigurationName = name;
  cfg.RTCMFormat = general.RTCMFormat;
  cfg.ErrorHandling = general.ErrorHandling;

  // 2. Private library copies, loaded whatever the outcome of the copy.
  const std::filesystem::path programFolder = ExecutableFolder();
  auto copy = [&](const char* sourceName, const char* copyName) {
    std::filesystem::path source = programFolder / sourceName;
    std::filesystem::path destination = folder / copyName;
    if (!CopyLibrary(source, destination))
      Report(prefix + "Unable to copy file " + source.string() + " to " + destination.string() +
             ". Check if directories are accessable.");
    return destination;
  };
  cfg.Marlo().Load(copy(kMarloLibrary, kMarloCopy));
  cfg.Orvel().Load(copy(kOrvelLibrary, kOrvelCopy));

  // 3. The file itself.
  const std::filesystem::path iniPath = folder / (name + ".ini");
  CFileIni ini(iniPath);
  if (!ini.CanRead()) {
    Report(prefix + "File " + iniPath.string() + " is missing.");
    std::lock_guard<std::mutex> lock(info_);
    format_ = cfg.RTCMFormat;
    port_ = 0;
    return 0;
  }

  // 4. Section Settings.
  cfg.PORTNUM = ini.ReadInt(kSettings, "PORTNUM");
  cfg.RequestType = ini.ReadInt(kSettings, "RequestType");
  totalRequests_ = ini.ReadLong(kSettings, "TotalNumberOfRequests");
  // A configuration may answer in another format than the program-wide one.
  std::string ownFormat = ini.ReadString(kSettings, "RTCMFormat");
  if (!ownFormat.empty()) cfg.RTCMFormat = CTarvikSettings::ParseRTCMFormat(ownFormat);

  // 5. ActiveMessages, consumed from the left; a ';' at the start of the
  // remaining text ends the list.
  std::string rest = ini.ReadString(kSettings, "ActiveMessages");
  while (!rest.empty() && rest.front() != ';') {
    std::size_t semicolon = rest.find(';');
    std::string token = rest.substr(0, semicolon);
    rest = semicolon == std::string::npos ? std::string() : rest.substr(semicolon + 1);
    int number = 0;
    if (!ParseIntToken(token, number)) {
      Report(prefix + "Message " + token + " is not supported by Tarvik.");
      continue;
    }
    if (number > 0) cfg.ActiveMessages.push_back(number);
    if (!IsSupportedMessage(number))
      Report(prefix + "Message " + std::to_string(number) + " is not supported by Tarvik.");
  }

  cfg.Mode = CTarvikSettings::UpperTrimmed(ini.ReadString(kSettings, "Mode"));
  cfg.ModeCode = cfg.Mode == "LOCAL" ? kModeLocal : cfg.Mode == "REGIONAL" ? kModeRegional : kModeOther;
  cfg.PlanType = CTarvikSettings::UpperTrimmed(ini.ReadString(kSettings, "PlanType"));
  cfg.PlanCode = cfg.PlanType == "SAPEN_DB" ? kPlanSapenDB : kPlanNone;
  cfg.PlanDB = ini.ReadString(kSettings, "PlanDB");
  cfg.HeightType = CTarvikSettings::UpperTrimmed(ini.ReadString(kSettings, "HeightType"));
  cfg.HeightCode = cfg.HeightType == "SAPEN_DB"    ? kHeightSapenDB
                   : cfg.HeightType == "ORVEL_DB"  ? kHeightOrvelDB
                   : cfg.HeightType == "ORVEL_DB2" ? kHeightOrvelDB2
                   : cfg.HeightType == "GEOIDGRID" ? kHeightGeoidGrid
                                                   : kHeightNone;
  cfg.HeightDB = ini.ReadString(kSettings, "HeightDB");
  {
    // Missing, empty, not a number or exactly -9999: the default height.
    std::string text = ini.ReadString(kSettings, "MeanGeoidHeight");
    double value = 42.0;
    if (!text.empty() && std::sscanf(text.c_str(), "%lf", &value) != 1) value = 42.0;
    cfg.MeanGeoidHeight = value == -9999.0 ? 42.0 : value;
  }
  if (cfg.PlanCode == kPlanSapenDB) cfg.PlanDB = JoinPath(general.SapenDBPath, cfg.PlanDB);
  if (cfg.HeightCode == kHeightOrvelDB || cfg.HeightCode == kHeightOrvelDB2)
    cfg.HeightDB = JoinPath(general.OrvelDBPath, cfg.HeightDB);
  else if (cfg.HeightCode == kHeightGeoidGrid)
    cfg.HeightDB = JoinPath(general.GeoidGridPath, cfg.HeightDB);

  // 6. The configured ITRF-to-target transformation: all seven are needed.
  {
    bool missing = false;
    auto read = [&](const char* key) {
      std::string text = ini.ReadString(kTransformation, key);
      if (text.empty()) missing = true;
      return CFileIni::ParseDouble(text);
    };
    cfg.RX = read("RX");
    cfg.RY = read("RY");
    cfg.RZ = read("RZ");
    cfg.TX = read("TX");
    cfg.TY = read("TY");
    cfg.TZ = read("TZ");
    cfg.S = read("S");
    if (missing) Report(prefix + "Information about transformation is missing.");
  }

  // 7. Section 1021.
  HelmertMessageData& h = cfg.Helmert;
  h.SourceNameCounter = ini.ReadInt("1021", "SourceNameCounter");
  h.SourceName = ini.ReadString("1021", "SourceName");
  h.TargetNameCounter = ini.ReadInt("1021", "TargetNameCounter");
  h.TargetName = ini.ReadString("1021", "TargetName");
  h.SystemIdentificationNumber = ini.ReadInt("1021", "SystemIdentificationNumber");
  h.InvolvedTransformationMessages = ini.ReadString("1021", "InvolvedTransformationMessages");
  {
    const std::string& bits = h.InvolvedTransformationMessages;
    if (bits.size() != 10)
      Report(prefix + "Length of bit-string 'InvolvedTransformationMessages' must be 10. Current length is " +
             std::to_string(bits.size()) + ".");
    // Position p stands for message 1023 + p; positions past the end are not set.
    auto isSet = [&](std::size_t position) { return position < bits.size() && bits[position] == '1'; };
    auto isActive = [&](int number) {
      for (int m : cfg.ActiveMessages)
        if (m == number) return true;
      return false;
    };
    for (int number : {1023, 1025}) {
      if (isActive(number) && !isSet(static_cast<std::size_t>(number - 1023)))
        Report(prefix + "Message " + std::to_string(number) +
               " which is set to active is not included in 'InvolvedTransformationMessages'.");
    }
    for (int number : {1024, 1026, 1027}) {
      if (isSet(static_cast<std::size_t>(number - 1023)))
        Report(prefix + "Message " + std::to_string(number) +
               " which is is set to active in 'InvolvedTransformationMessages' is not supported by Tarvik.");
    }
  }
  h.PlateNumber = ini.ReadInt("1021", "PlateNumber");
  h.ComputationIndicator = ini.ReadInt("1021", "ComputationIndicator");
  h.HeightIndicator = ini.ReadInt("1021", "HeightIndicator");
  h.LatitudeOfOriginAreaOfValidity = ini.ReadDouble("1021", "LatitudeOfOriginAreaOfValidity");
  h.LongitudeOfOriginAreaOfValidity = ini.ReadDouble("1021", "LongitudeOfOriginAreaOfValidity");
  h.LatitudeExtensionAreaOfValidity = ini.ReadDouble("1021", "LatitudeExtensionAreaOfValidity");
  h.LongitudeExtensionAreaOfValidity = ini.ReadDouble("1021", "LongitudeExtensionAreaOfValidity");
  h.SemimajorAxisOfSourceSystemEllipsoid = ini.ReadDouble("1021", "SemimajorAxisOfSourceSystemEllipsoid");
  h.SemiminorAxisOfSourceSystemEllipsoid = ini.ReadDouble("1021", "SemiminorAxisOfSourceSystemEllipsoid");
  h.SemimajorAxisOfTargetSystemEllipsoid = ini.ReadDouble("1021", "SemimajorAxisOfTargetSystemEllipsoid");
  h.SemiminorAxisOfTargetSystemEllipsoid = ini.ReadDouble("1021", "SemiminorAxisOfTargetSystemEllipsoid");
  h.HorizontalHelmertMolodenskiQualityIndicator =
      ini.ReadInt("1021", "HorizontalHelmertMolodenskiQualityIndicator");
  h.VerticalHelmertMolodenskiQualityIndicator =
      ini.ReadInt("1021", "VerticalHelmertMolodenskiQualityIndicator");

  // 8. Sections 1023 and 1025.
  ResidualGridMessageData& g = cfg.ResidualGrid;
  g.SystemIdentificationNumber = ini.ReadInt("1023", "SystemIdentificationNumber");
  g.HorizontalShiftIndicator = ini.ReadInt("1023", "HorizontalShiftIndicator");
  g.VerticalShiftIndicator = ini.ReadInt("1023", "VerticalShiftIndicator");
  g.HorizontalInterpolationMethodIndicator = ini.ReadInt("1023", "HorizontalInterpolationMethodIndicator");
  g.VerticalInterpolationMethodIndicator = ini.ReadInt("1023", "VerticalInterpolationMethodIndicator");
  g.HorizontalGridQualityIndicator = ini.ReadInt("1023", "HorizontalGridQualityIndicator");
  g.VerticalGridQualityIndicator = ini.ReadInt("1023", "VerticalGridQualityIndicator");
  ProjectionMessageData& p = cfg.Projection;
  p.SystemIdentificationNumber = ini.ReadInt("1025", "SystemIdentificationNumber");
  p.ProjectionType = ini.ReadInt("1025", "ProjectionType");
  p.LatitudeOfNaturalOrigin = ini.ReadDouble("1025", "LatitudeOfNaturalOrigin");
  p.LongitudeOfNaturalOrigin = ini.ReadDouble("1025", "LongitudeOfNaturalOrigin");
  p.ScaleFactorAtNaturalOrigin = ini.ReadDouble("1025", "ScaleFactorAtNaturalOrigin");
  p.FalseEasting = ini.ReadDouble("1025", "FalseEasting");
  p.FalseNorthing = ini.ReadDouble("1025", "FalseNorthing");

  // 9. The databases.
  if (cfg.PlanCode == kPlanSapenDB) {
    int result = cfg.Marlo().InitDB(cfg.PlanDB);
    if (result != 1)
      Report(prefix + "Error initializing Marlo-Access with database " + cfg.PlanDB +
             ". ErrorCode: " + MarloErrorText(result));
    else if (const std::string p = ApplyMarloInterpolation(ini, cfg.Marlo()); !p.empty())
      Report(prefix + p);
  }
  if (cfg.HeightCode == kHeightOrvelDB || cfg.HeightCode == kHeightOrvelDB2) {
    if (cfg.Orvel().InitOrvelDB(cfg.HeightDB) != 1)
      Report(prefix + "Error initializing ORVEL-Access with database " + cfg.HeightDB + ".");
  } else if (cfg.HeightCode == kHeightGeoidGrid) {
    int result = cfg.GeoidGrid().Load(cfg.HeightDB);
    if (result == -1000)
      Report(prefix + "Error initializing GeoidGrid-Access. Database " + cfg.HeightDB + " not accessible.");
    else if (result == -1002)
      Report(prefix + "Error initializing GeoidGrid-Access. Database " + cfg.HeightDB + ". Format error.");
    else if (result != 1)
      Report(prefix + "Error initializing GeoidGrid-Access with database " + cfg.HeightDB + ".");
  }

  // 10. Message lengths.
  h.MessageLength = 52 + h.SourceNameCounter + h.TargetNameCounter;
  g.MessageLength = 73;
  p.MessageLength = 25;

  std::lock_guard<std::mutex> lock(info_);
  port_ = cfg.PORTNUM;
  format_ = cfg.RTCMFormat;
  return 1;
}

// --- request path ---------------------------------------------------------

int CRTCMTransformationMessageModule::HandleASCII(const std::string& request,
                                                  std::vector<CRTCMASCIIResponse>& responses) {
  std::lock_guard<std::mutex> compute(compute_);
  return tarvik::handleASCII(request, responses, settings_);
}

int CRTCMTransformationMessageModule::HandleXML(const std::string& request,
                                                std::vector<CRTCMXMLResponse>& responses) {
  std::lock_guard<std::mutex> compute(compute_);
  return tarvik::handleXML(request, responses, settings_);
}

int CRTCMTransformationMessageModule::HandleBinary(const std::string& request,
                                                   std::vector<CRTCMBinaryResponse>& responses) {
  std::lock_guard<std::mutex> compute(compute_);
  return tarvik::handleBinary(request, responses, settings_);
}

int CRTCMTransformationMessageModule::handleASCII(const std::string& request,
                                                  std::vector<std::string>& responses) {
  std::vector<CRTCMASCIIResponse> list;
  int result = HandleASCII(request, list);
  for (auto& r : list) responses.push_back(std::move(r.text));
  return result;
}

int CRTCMTransformationMessageModule::handleXML(const std::string& request,
                                                std::vector<std::string>& responses) {
  std::vector<CRTCMXMLResponse> list;
  int result = HandleXML(request, list);
  for (auto& r : list) responses.push_back(std::move(r.text));
  return result;
}

int CRTCMTransformationMessageModule::handleBinary(const std::string& request,
                                                   std::vector<SessionBinaryResponse>& responses) {
  std::vector<CRTCMBinaryResponse> list;
  int result = HandleBinary(request, list);
  for (auto& r : list) {
    SessionBinaryResponse s;
    s.messageNumber = r.messageNumber;
    s.bytes.assign(r.bytes.begin(), r.bytes.end());
    responses.push_back(std::move(s));
  }
  return result;
}

}  // namespace tarvik
