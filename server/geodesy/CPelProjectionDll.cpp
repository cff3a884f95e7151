#include "geodesy/CPelProjectionDll.h"

#include <map>
#include <mutex>

#include "geodesy/DynamicLibrary.h"
#include "runtime/ProgramFolder.h"

namespace tarvik {

// The 46 exports in their look-up order.
// clang-format off
#define TARVIK_PELPROJECTION_ENTRIES(X)                                                        \
  X(InitializeDLL) X(SetL0) X(GetL0) X(SetL0Auto) X(GetL0Auto) X(SetB0) X(GetB0)              \
  X(SetEllipDim) X(GetA) X(GetB) X(SetBNord) X(GetBNord) X(SetBSued) X(GetBSued)             \
  X(SetFalseNorth) X(GetFalseNorth) X(SetFalseEast) X(GetFalseEast) X(SetLambType)           \
  X(GetLambType) X(SetLambCase) X(GetLambCase) X(SetGKCase) X(GetGKCase) X(DEZGMS) X(GMSDEZ) \
  X(BLH_to_XYZ) X(XYZ_to_BLH) X(EllipsoidalCoordinates_to_XYZ)                               \
  X(XYZ_to_EllipsoidalCoordinates) X(BL_to_EN_Soldner) X(EN_to_BL_Soldner)                   \
  X(BL_to_EN_UTM_Raw) X(EN_to_BL_UTM_Raw) X(BL_to_EN_UTM_With_Zone)                          \
  X(EN_to_BL_UTM_With_Zone) X(BL_to_EN_GK) X(EN_to_BL_GK) X(BL_to_EN_Lambert)               \
  X(EN_to_BL_Lambert) X(BL_to_EN_Mercator) X(EN_to_BL_Mercator) X(BL_to_EN_EOV)             \
  X(EN_to_BL_EOV) X(BL_to_EN_Switzerland_Conformal_DoubleProjection)                         \
  X(EN_to_BL_Switzerland_Conformal_DoubleProjection)
// clang-format on

class CPelProjectionDll::Library {
 public:
  explicit Library(const std::filesystem::path& file) {
    if (!library_.Load(file)) {
      error_ = library_.LastError();
      return;
    }
    bool all = true;
#define TARVIK_BIND(name)                                    \
  if (!library_.Bind(#name, entries_.name)) {                \
    if (all) error_ = "missing entry " + std::string(#name); \
    all = false;                                             \
  }
    TARVIK_PELPROJECTION_ENTRIES(TARVIK_BIND)
#undef TARVIK_BIND
    ready_ = all;
    // Optional: a library without them is used point by point.
    library_.Bind("BLH_to_XYZ_Points", entries_.BLH_to_XYZ_Points);
    library_.Bind("XYZ_to_BLH_Points", entries_.XYZ_to_BLH_Points);
  }

  bool Ready() const { return ready_; }
  const std::string& Error() const { return error_; }
  const PelProjectionEntries& Entries() const { return entries_; }

 private:
  DynamicLibrary library_;
  PelProjectionEntries entries_;
  bool ready_ = false;
  std::string error_;
};

namespace {

// Loaded files stay loaded for the life of the process; a file that failed
// to load is tried again by the next binding.
std::shared_ptr<const CPelProjectionDll::Library> SharedLibrary(const std::filesystem::path& file) {
  static std::mutex mutex;
  static std::map<std::string, std::shared_ptr<const CPelProjectionDll::Library>> loaded;
  std::lock_guard<std::mutex> lock(mutex);
  const std::string& key = file.native();
  auto found = loaded.find(key);
  if (found != loaded.end()) return found->second;
  auto library = std::make_shared<const CPelProjectionDll::Library>(file);
  if (library->Ready()) loaded.emplace(key, library);
  return library;
}

}  // namespace

const std::filesystem::path& CPelProjectionDll::DefaultLibraryFile() {
  // The executable does not move while it runs; asking the system once is enough.
  static const std::filesystem::path file = ExecutableFolder() / "PelProjection.so";
  return file;
}

CPelProjectionDll::CPelProjectionDll() : CPelProjectionDll(DefaultLibraryFile()) {}

CPelProjectionDll::CPelProjectionDll(const std::filesystem::path& libraryFile, PelProjectionLoading loading) {
  try {
    library_ = loading == PelProjectionLoading::Shared ? SharedLibrary(libraryFile)
                                                       : std::make_shared<const Library>(libraryFile);
  } catch (...) {
    library_.reset();  // out of memory: the binding stays not ready
  }
}

CPelProjectionDll::~CPelProjectionDll() = default;

bool CPelProjectionDll::IsReady() const { return library_ != nullptr && library_->Ready(); }

std::string CPelProjectionDll::LoadError() const {
  if (library_ == nullptr) return "library not loaded";
  return library_->Error();
}

const PelProjectionEntries* CPelProjectionDll::Entries() const {
  return IsReady() ? &library_->Entries() : nullptr;
}

void CPelProjectionDll::Push() const {
  const ProjectionStateValues& s = state_;
  library_->Entries().InitializeDLL(s.L0, s.L0Auto, s.B0, s.a, s.b, s.BNord, s.BSued, s.FalseNorth,
                                    s.FalseEast, s.LambType, s.LambCase, s.GKCase);
}

int CPelProjectionDll::SetEllipsoid(double a, double b) {
  if (!IsReady()) return kProjectionNotReady;
  // The whole copy, these axes included, is pushed before every conversion;
  // handing them over now as well would only cost two more library calls.
  state_.a = a;
  state_.b = b;
  return kProjectionOK;
}

int CPelProjectionDll::GeographicToCartesian(double latitude, double longitude, double height, double& X,
                                             double& Y, double& Z) {
  if (!IsReady()) return kProjectionNotReady;
  try {
    Push();
    library_->Entries().BLH_to_XYZ(latitude, longitude, height, &X, &Y, &Z);
  } catch (...) {
    return kProjectionCallException;
  }
  return kProjectionOK;
}

int CPelProjectionDll::CartesianToGeographic(double X, double Y, double Z, double& latitude,
                                             double& longitude, double& height) {
  if (!IsReady()) return kProjectionNotReady;
  try {
    Push();
    library_->Entries().XYZ_to_BLH(X, Y, Z, &latitude, &longitude, &height);
  } catch (...) {
    return kProjectionCallException;
  }
  return kProjectionOK;
}

int CPelProjectionDll::GeographicToCartesian(int count, const double* latitude, const double* longitude,
                                             const double* height, double* X, double* Y, double* Z,
                                             int& converted) {
  converted = 0;
  if (!IsReady()) return kProjectionNotReady;
  const PelProjectionEntries& e = library_->Entries();
  try {
    if (e.BLH_to_XYZ_Points != nullptr) {
      Push();
      e.BLH_to_XYZ_Points(count, latitude, longitude, height, X, Y, Z);
      converted = count > 0 ? count : 0;
      return kProjectionOK;
    }
    for (; converted < count; ++converted) {
      Push();
      e.BLH_to_XYZ(latitude[converted], longitude[converted], height[converted], &X[converted], &Y[converted],
                   &Z[converted]);
    }
  } catch (...) {
    return kProjectionCallException;
  }
  return kProjectionOK;
}

int CPelProjectionDll::CartesianToGeographic(int count, const double* X, const double* Y, const double* Z,
                                             double* latitude, double* longitude, double* height,
                                             int& converted) {
  converted = 0;
  if (!IsReady()) return kProjectionNotReady;
  const PelProjectionEntries& e = library_->Entries();
  try {
    if (e.XYZ_to_BLH_Points != nullptr) {
      Push();
      e.XYZ_to_BLH_Points(count, X, Y, Z, latitude, longitude, height);
      converted = count > 0 ? count : 0;
      return kProjectionOK;
    }
    for (; converted < count; ++converted) {
      Push();
      e.XYZ_to_BLH(X[converted], Y[converted], Z[converted], &latitude[converted], &longitude[converted],
                   &height[converted]);
    }
  } catch (...) {
    return kProjectionCallException;
  }
  return kProjectionOK;
}

}  // namespace tarvik
