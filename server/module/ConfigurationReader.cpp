#include "module/ConfigurationReader.h"

#include <unistd.h>

#include <climits>
#include <cmath>
#include <cstdio>

#include "geodesy/CGeoidGrid.h"
#include "geodesy/CMarloDll.h"
#include "geodesy/CORVELDll.h"
#include "module/MarloInterpolationSettings.h"
#include "runtime/CFileIni.h"
#include "runtime/PelLog.h"
#include "runtime/ProgramFolder.h"

namespace tarvik {

namespace {

constexpr const char* kSettings = "Settings";
constexpr const char* kTransformation = "Transformation_ITRF_To_Target";

// Message lengths in bytes: 1021 has 412 bits of fixed fields plus one byte
// per character of the two system names; 1023 and 1025 have fixed lengths.
constexpr int kMessage1021FixedBytes = 52;
constexpr int kMessage1023Bytes = 73;
constexpr int kMessage1025Bytes = 25;

// Length of InvolvedTransformationMessages: one flag per message 1023..1032.
constexpr std::size_t kInvolvedMessagesLength = 10;

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
  std::string f = CFileIni::NormalisedPath(file);
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
  value = v > INT_MAX ? INT_MAX : v < INT_MIN ? INT_MIN : static_cast<int>(v);
  return true;
}

bool IsSupportedMessage(int number) { return number == 1021 || number == 1023 || number == 1025; }

}  // namespace

ConfigurationReader::ConfigurationReader(CConfigurationSettings& values,
                                         const CGeneralModuleSettings& general, std::filesystem::path folder,
                                         std::string name, PelLog& log)
    : cfg_(values),
      general_(general),
      folder_(std::move(folder)),
      name_(std::move(name)),
      prefix_("ReadConfiguration " + name_ + ": "),
      log_(log) {}

ConfigurationReadOutcome ConfigurationReader::Read() {
  Begin();
  CopyAndLoadLibraries();
  const std::filesystem::path iniPath = folder_ / (name_ + ".ini");
  CFileIni ini(iniPath);
  if (!ini.CanRead()) {
    Report(prefix_ + "File " + iniPath.string() + " is missing.");
    outcome_.result = kReadConfigurationFileMissing;
    return outcome_;
  }
  ReadSettings(ini);
  ReadTransformation(ini);
  ReadHelmertMessage(ini);
  ReadResidualGridMessage(ini);
  ReadProjectionMessage(ini);
  CheckValues();
  OpenDatabases(ini);
  SetMessageLengths();
  return outcome_;
}

void ConfigurationReader::Report(const std::string& text) {
  log_.write(0, PelLogError, "Tarvik:" + name_, text);
  outcome_.problems += text + "\n\n";
  outcome_.valid = false;
}

bool ConfigurationReader::IsActive(int messageNumber) const {
  for (int m : cfg_.ActiveMessages)
    if (m == messageNumber) return true;
  return false;
}

// Fresh values (the libraries are released by the reset) and the two values
// every configuration takes from the general settings.
void ConfigurationReader::Begin() {
  cfg_.Reset();
  cfg_.ConfigurationName = name_;
  cfg_.RTCMFormat = general_.RTCMFormat;
  cfg_.ErrorHandling = general_.ErrorHandling;
}

// Private copies of the libraries, loaded whatever the outcome of the copy,
// so that each configuration has its own library instance and database.
void ConfigurationReader::CopyAndLoadLibraries() {
  const std::filesystem::path programFolder = ExecutableFolder();
  auto copy = [&](const char* sourceName, const char* copyName) {
    std::filesystem::path source = programFolder / sourceName;
    std::filesystem::path destination = folder_ / copyName;
    if (!CopyLibrary(source, destination))
      Report(prefix_ + "Unable to copy file " + source.string() + " to " + destination.string() +
             ". Check if directories are accessable.");
    return destination;
  };
  cfg_.Marlo().Load(copy(kMarloLibraryFile, kMarloLibraryCopy));
  cfg_.Orvel().Load(copy(kOrvelLibraryFile, kOrvelLibraryCopy));
}

void ConfigurationReader::ReadSettings(const CFileIni& ini) {
  cfg_.PORTNUM = ini.ReadInt(kSettings, "PORTNUM");
  cfg_.RequestType = ini.ReadInt(kSettings, "RequestType");
  outcome_.totalRequests = ini.ReadLong(kSettings, "TotalNumberOfRequests");
  // A configuration may answer in another format than the program-wide one.
  const std::string ownFormat = ini.ReadString(kSettings, "RTCMFormat");
  if (!ownFormat.empty()) cfg_.RTCMFormat = ParseRTCMFormat(ownFormat);
  ReadActiveMessages(ini);
  cfg_.Mode = CFileIni::UpperTrimmed(ini.ReadString(kSettings, "Mode"));
  cfg_.ModeCode = cfg_.Mode == "LOCAL" ? kModeLocal : cfg_.Mode == "REGIONAL" ? kModeRegional : kModeOther;
  ReadDatabaseNames(ini);
  // Missing, empty, not a number or the "not set" marker: the default height.
  const std::string height = ini.ReadString(kSettings, "MeanGeoidHeight");
  double value = kDefaultMeanGeoidHeight;
  if (!height.empty() && std::sscanf(height.c_str(), "%lf", &value) != 1) value = kDefaultMeanGeoidHeight;
  cfg_.MeanGeoidHeight = value == kMeanGeoidHeightNotSet ? kDefaultMeanGeoidHeight : value;
}

// Consumed from the left; a ';' at the start of the remaining text ends the
// list. Unsupported numbers are reported and still kept in the list.
void ConfigurationReader::ReadActiveMessages(const CFileIni& ini) {
  std::string rest = ini.ReadString(kSettings, "ActiveMessages");
  while (!rest.empty() && rest.front() != ';') {
    const std::size_t semicolon = rest.find(';');
    const std::string token = rest.substr(0, semicolon);
    rest = semicolon == std::string::npos ? std::string() : rest.substr(semicolon + 1);
    int number = 0;
    if (!ParseIntToken(token, number)) {
      Report(prefix_ + "Message " + token + " is not supported by Tarvik.");
      continue;
    }
    if (number > 0) cfg_.ActiveMessages.push_back(number);
    if (!IsSupportedMessage(number))
      Report(prefix_ + "Message " + std::to_string(number) + " is not supported by Tarvik.");
  }
}

// The database names become full paths below the folders of the general
// settings (only for the kinds that use them).
void ConfigurationReader::ReadDatabaseNames(const CFileIni& ini) {
  cfg_.PlanType = CFileIni::UpperTrimmed(ini.ReadString(kSettings, "PlanType"));
  cfg_.PlanCode = cfg_.PlanType == "SAPEN_DB" ? kPlanSapenDB : kPlanNone;
  cfg_.PlanDB = ini.ReadString(kSettings, "PlanDB");
  cfg_.HeightType = CFileIni::UpperTrimmed(ini.ReadString(kSettings, "HeightType"));
  cfg_.HeightCode = cfg_.HeightType == "SAPEN_DB"    ? kHeightSapenDB
                    : cfg_.HeightType == "ORVEL_DB"  ? kHeightOrvelDB
                    : cfg_.HeightType == "ORVEL_DB2" ? kHeightOrvelDB2
                    : cfg_.HeightType == "GEOIDGRID" ? kHeightGeoidGrid
                                                     : kHeightNone;
  cfg_.HeightDB = ini.ReadString(kSettings, "HeightDB");
  if (cfg_.PlanCode == kPlanSapenDB) cfg_.PlanDB = JoinPath(general_.SapenDBPath, cfg_.PlanDB);
  if (cfg_.HeightCode == kHeightOrvelDB || cfg_.HeightCode == kHeightOrvelDB2)
    cfg_.HeightDB = JoinPath(general_.OrvelDBPath, cfg_.HeightDB);
  else if (cfg_.HeightCode == kHeightGeoidGrid)
    cfg_.HeightDB = JoinPath(general_.GeoidGridPath, cfg_.HeightDB);
}

// The configured ITRF-to-target transformation: all seven are needed.
void ConfigurationReader::ReadTransformation(const CFileIni& ini) {
  bool missing = false;
  auto read = [&](const char* key) {
    const std::string text = ini.ReadString(kTransformation, key);
    if (text.empty()) missing = true;
    return CFileIni::ParseDouble(text);
  };
  cfg_.RX = read("RX");
  cfg_.RY = read("RY");
  cfg_.RZ = read("RZ");
  cfg_.TX = read("TX");
  cfg_.TY = read("TY");
  cfg_.TZ = read("TZ");
  cfg_.S = read("S");
  if (missing) Report(prefix_ + "Information about transformation is missing.");
}

void ConfigurationReader::ReadHelmertMessage(const CFileIni& ini) {
  HelmertMessageData& h = cfg_.Helmert;
  h.SourceNameCounter = ini.ReadInt("1021", "SourceNameCounter");
  h.SourceName = ini.ReadString("1021", "SourceName");
  h.TargetNameCounter = ini.ReadInt("1021", "TargetNameCounter");
  h.TargetName = ini.ReadString("1021", "TargetName");
  h.SystemIdentificationNumber = ini.ReadInt("1021", "SystemIdentificationNumber");
  h.InvolvedTransformationMessages = ini.ReadString("1021", "InvolvedTransformationMessages");
  CheckInvolvedMessages();
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
}

// Position p of InvolvedTransformationMessages stands for message 1023 + p;
// positions past the end of a short text count as not set.
void ConfigurationReader::CheckInvolvedMessages() {
  const std::string& bits = cfg_.Helmert.InvolvedTransformationMessages;
  if (bits.size() != kInvolvedMessagesLength)
    Report(prefix_ + "Length of bit-string 'InvolvedTransformationMessages' must be 10. Current length is " +
           std::to_string(bits.size()) + ".");
  auto isSet = [&](int number) {
    const std::size_t position = static_cast<std::size_t>(number - 1023);
    return position < bits.size() && bits[position] == '1';
  };
  for (int number : {1023, 1025}) {
    if (IsActive(number) && !isSet(number))
      Report(prefix_ + "Message " + std::to_string(number) +
             " which is set to active is not included in 'InvolvedTransformationMessages'.");
  }
  for (int number : {1024, 1026, 1027}) {
    if (isSet(number))
      Report(prefix_ + "Message " + std::to_string(number) +
             " which is is set to active in 'InvolvedTransformationMessages' is not supported by Tarvik.");
  }
}

void ConfigurationReader::ReadResidualGridMessage(const CFileIni& ini) {
  ResidualGridMessageData& g = cfg_.ResidualGrid;
  g.SystemIdentificationNumber = ini.ReadInt("1023", "SystemIdentificationNumber");
  g.HorizontalShiftIndicator = ini.ReadInt("1023", "HorizontalShiftIndicator");
  g.VerticalShiftIndicator = ini.ReadInt("1023", "VerticalShiftIndicator");
  g.HorizontalInterpolationMethodIndicator = ini.ReadInt("1023", "HorizontalInterpolationMethodIndicator");
  g.VerticalInterpolationMethodIndicator = ini.ReadInt("1023", "VerticalInterpolationMethodIndicator");
  g.HorizontalGridQualityIndicator = ini.ReadInt("1023", "HorizontalGridQualityIndicator");
  g.VerticalGridQualityIndicator = ini.ReadInt("1023", "VerticalGridQualityIndicator");
}

void ConfigurationReader::ReadProjectionMessage(const CFileIni& ini) {
  ProjectionMessageData& p = cfg_.Projection;
  p.SystemIdentificationNumber = ini.ReadInt("1025", "SystemIdentificationNumber");
  p.ProjectionType = ini.ReadInt("1025", "ProjectionType");
  p.LatitudeOfNaturalOrigin = ini.ReadDouble("1025", "LatitudeOfNaturalOrigin");
  p.LongitudeOfNaturalOrigin = ini.ReadDouble("1025", "LongitudeOfNaturalOrigin");
  p.ScaleFactorAtNaturalOrigin = ini.ReadDouble("1025", "ScaleFactorAtNaturalOrigin");
  p.FalseEasting = ini.ReadDouble("1025", "FalseEasting");
  p.FalseNorthing = ini.ReadDouble("1025", "FalseNorthing");
}

namespace {
std::string Number(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.10g", value);
  return text;
}
}  // namespace

void ConfigurationReader::CheckField(int message, const char* key, double value, const FieldRange& range) {
  if (range.fits(value)) return;
  Report(prefix_ + "Value " + Number(value) + " of " + key + " does not fit message " +
         std::to_string(message) + " (it takes " + Number(range.lowestValue()) + " to " +
         Number(range.highestValue()) + ").");
}

void ConfigurationReader::CheckField(int message, const char* key, int value, int bits) {
  if (FitsUnsigned(value, bits)) return;
  Report(prefix_ + "Value " + std::to_string(value) + " of " + key + " does not fit message " +
         std::to_string(message) + " (it takes 0 to " + std::to_string((1 << bits) - 1) + ").");
}

void ConfigurationReader::CheckEllipsoid(const char* which, double semimajor, double semiminor) {
  if (std::isfinite(semimajor) && std::isfinite(semiminor) && semiminor > 0.0 && semiminor <= semimajor)
    return;
  Report(prefix_ + "The " + which + " ellipsoid's axes (" + Number(semimajor) + ", " + Number(semiminor) +
         ") are no ellipsoid: both must be positive and the semi-minor axis must not exceed the semi-major "
         "axis.");
}

// Only the messages that are sent are held to their fields; the ellipsoids
// and the configured transformation are used by every computation.
void ConfigurationReader::CheckValues() {
  const HelmertMessageData& h = cfg_.Helmert;
  CheckEllipsoid("source", h.SemimajorAxisOfSourceSystemEllipsoid, h.SemiminorAxisOfSourceSystemEllipsoid);
  CheckEllipsoid("target", h.SemimajorAxisOfTargetSystemEllipsoid, h.SemiminorAxisOfTargetSystemEllipsoid);
  for (double value : {cfg_.RX, cfg_.RY, cfg_.RZ, cfg_.TX, cfg_.TY, cfg_.TZ, cfg_.S, cfg_.MeanGeoidHeight}) {
    if (!std::isfinite(value)) {
      Report(prefix_ + "Transformation_ITRF_To_Target and MeanGeoidHeight must be numbers.");
      break;
    }
  }
  // Every mode sends the 1021 extension as the 1023 grid extension too.
  if (IsActive(1021) || IsActive(1023)) {
    CheckField(1021, "LatitudeExtensionAreaOfValidity", h.LatitudeExtensionAreaOfValidity, k1021Extension);
    CheckField(1021, "LongitudeExtensionAreaOfValidity", h.LongitudeExtensionAreaOfValidity, k1021Extension);
  }
  if (IsActive(1021)) {
    CheckField(1021, "SourceNameCounter", h.SourceNameCounter, 5);
    CheckField(1021, "TargetNameCounter", h.TargetNameCounter, 5);
    CheckField(1021, "SystemIdentificationNumber", h.SystemIdentificationNumber, 8);
    CheckField(1021, "PlateNumber", h.PlateNumber, 5);
    CheckField(1021, "ComputationIndicator", h.ComputationIndicator, 4);
    CheckField(1021, "HeightIndicator", h.HeightIndicator, 2);
    CheckField(1021, "LatitudeOfOriginAreaOfValidity", h.LatitudeOfOriginAreaOfValidity, k1021OriginLatitude);
    CheckField(1021, "LongitudeOfOriginAreaOfValidity", h.LongitudeOfOriginAreaOfValidity,
               k1021OriginLongitude);
    CheckField(1021, "SemimajorAxisOfSourceSystemEllipsoid", h.SemimajorAxisOfSourceSystemEllipsoid,
               k1021SemimajorAxis);
    CheckField(1021, "SemiminorAxisOfSourceSystemEllipsoid", h.SemiminorAxisOfSourceSystemEllipsoid,
               k1021SemiminorAxis);
    CheckField(1021, "SemimajorAxisOfTargetSystemEllipsoid", h.SemimajorAxisOfTargetSystemEllipsoid,
               k1021SemimajorAxis);
    CheckField(1021, "SemiminorAxisOfTargetSystemEllipsoid", h.SemiminorAxisOfTargetSystemEllipsoid,
               k1021SemiminorAxis);
    CheckField(1021, "HorizontalHelmertMolodenskiQualityIndicator",
               h.HorizontalHelmertMolodenskiQualityIndicator, 3);
    CheckField(1021, "VerticalHelmertMolodenskiQualityIndicator", h.VerticalHelmertMolodenskiQualityIndicator,
               3);
  }
  if (IsActive(1023)) {
    const ResidualGridMessageData& g = cfg_.ResidualGrid;
    CheckField(1023, "LatitudeExtensionAreaOfValidity", h.LatitudeExtensionAreaOfValidity, k1023Extension);
    CheckField(1023, "LongitudeExtensionAreaOfValidity", h.LongitudeExtensionAreaOfValidity, k1023Extension);
    CheckField(1023, "SystemIdentificationNumber", g.SystemIdentificationNumber, 8);
    CheckField(1023, "HorizontalShiftIndicator", g.HorizontalShiftIndicator, 1);
    CheckField(1023, "VerticalShiftIndicator", g.VerticalShiftIndicator, 1);
    CheckField(1023, "HorizontalInterpolationMethodIndicator", g.HorizontalInterpolationMethodIndicator, 2);
    CheckField(1023, "VerticalInterpolationMethodIndicator", g.VerticalInterpolationMethodIndicator, 2);
    CheckField(1023, "HorizontalGridQualityIndicator", g.HorizontalGridQualityIndicator, 3);
    CheckField(1023, "VerticalGridQualityIndicator", g.VerticalGridQualityIndicator, 3);
  }
  if (IsActive(1025)) {
    const ProjectionMessageData& p = cfg_.Projection;
    CheckField(1025, "SystemIdentificationNumber", p.SystemIdentificationNumber, 8);
    CheckField(1025, "ProjectionType", p.ProjectionType, 6);
    CheckField(1025, "LatitudeOfNaturalOrigin", p.LatitudeOfNaturalOrigin, k1025OriginLatitude);
    CheckField(1025, "LongitudeOfNaturalOrigin", p.LongitudeOfNaturalOrigin, k1025OriginLongitude);
    CheckField(1025, "ScaleFactorAtNaturalOrigin", p.ScaleFactorAtNaturalOrigin, k1025ScaleFactor);
    CheckField(1025, "FalseEasting", p.FalseEasting, k1025FalseEasting);
    CheckField(1025, "FalseNorthing", p.FalseNorthing, k1025FalseNorthing);
  }
}

void ConfigurationReader::OpenDatabases(const CFileIni& ini) {
  if (cfg_.PlanCode == kPlanSapenDB) {
    const int result = cfg_.Marlo().InitDB(cfg_.PlanDB);
    if (result != MARLO_OK)
      Report(prefix_ + "Error initializing Marlo-Access with database " + cfg_.PlanDB +
             ". ErrorCode: " + MarloErrorText(result));
    else if (const std::string problem = ApplyMarloInterpolation(ini, cfg_.Marlo()); !problem.empty())
      Report(prefix_ + problem);
  }
  if (cfg_.HeightCode == kHeightOrvelDB || cfg_.HeightCode == kHeightOrvelDB2) {
    if (cfg_.Orvel().InitOrvelDB(cfg_.HeightDB) != ORVEL_INIT_OK)
      Report(prefix_ + "Error initializing ORVEL-Access with database " + cfg_.HeightDB + ".");
  } else if (cfg_.HeightCode == kHeightGeoidGrid) {
    const int result = cfg_.GeoidGrid().Load(cfg_.HeightDB);
    if (result == kGeoidNotAccessible)
      Report(prefix_ + "Error initializing GeoidGrid-Access. Database " + cfg_.HeightDB + " not accessible.");
    else if (result == kGeoidFormatError)
      Report(prefix_ + "Error initializing GeoidGrid-Access. Database " + cfg_.HeightDB + ". Format error.");
    else if (result != kGeoidOK)
      Report(prefix_ + "Error initializing GeoidGrid-Access with database " + cfg_.HeightDB + ".");
  }
}

void ConfigurationReader::SetMessageLengths() {
  HelmertMessageData& h = cfg_.Helmert;
  h.MessageLength = kMessage1021FixedBytes + h.SourceNameCounter + h.TargetNameCounter;
  cfg_.ResidualGrid.MessageLength = kMessage1023Bytes;
  cfg_.Projection.MessageLength = kMessage1025Bytes;
}

}  // namespace tarvik
