#pragma once
// Binding of the map projection library PelProjection, one per request.
//
// All 46 exports are looked up by name; the binding is ready only when the
// library loaded and every one of them was found. The binding keeps its own
// copy of the twelve projection state values and pushes the whole copy into
// the library (InitializeDLL) before each of its operations, so whatever
// another caller set last, the call sees this binding's values. The library
// keeps its state per calling thread, so a push and the call after it cannot
// be disturbed by another thread.
//
// Loading: by default every binding of one library file shares one loaded
// instance and one table of looked-up entries, resolved once per process
// (a request then costs no loader work). A binding can instead load the
// file and look its entries up itself (PelProjectionLoading::PerBinding);
// both behave the same to the caller.
//
// Exceptions thrown inside the library never leave the binding.

#include <filesystem>
#include <memory>
#include <string>

#include "PelProjection.h"

namespace tarvik {

// Results of the binding's operations.
constexpr int kProjectionOK = 1;
constexpr int kProjectionNotReady = -1000;       // nothing was called, outputs untouched
constexpr int kProjectionCallException = -2000;  // the library call threw

// The twelve state values in the order of InitializeDLL.
struct ProjectionStateValues {
  double L0 = 0.0;
  int L0Auto = 0;
  double B0 = 0.0;
  double a = 0.0;
  double b = 0.0;
  double BNord = 0.0;
  double BSued = 0.0;
  double FalseNorth = 0.0;
  double FalseEast = 0.0;
  int LambType = 0;
  int LambCase = 0;
  int GKCase = 0;
};

// Every export of the library, looked up by name.
struct PelProjectionEntries {
  decltype(&::InitializeDLL) InitializeDLL = nullptr;
  decltype(&::SetL0) SetL0 = nullptr;
  decltype(&::GetL0) GetL0 = nullptr;
  decltype(&::SetL0Auto) SetL0Auto = nullptr;
  decltype(&::GetL0Auto) GetL0Auto = nullptr;
  decltype(&::SetB0) SetB0 = nullptr;
  decltype(&::GetB0) GetB0 = nullptr;
  decltype(&::SetEllipDim) SetEllipDim = nullptr;
  decltype(&::GetA) GetA = nullptr;
  decltype(&::GetB) GetB = nullptr;
  decltype(&::SetBNord) SetBNord = nullptr;
  decltype(&::GetBNord) GetBNord = nullptr;
  decltype(&::SetBSued) SetBSued = nullptr;
  decltype(&::GetBSued) GetBSued = nullptr;
  decltype(&::SetFalseNorth) SetFalseNorth = nullptr;
  decltype(&::GetFalseNorth) GetFalseNorth = nullptr;
  decltype(&::SetFalseEast) SetFalseEast = nullptr;
  decltype(&::GetFalseEast) GetFalseEast = nullptr;
  decltype(&::SetLambType) SetLambType = nullptr;
  decltype(&::GetLambType) GetLambType = nullptr;
  decltype(&::SetLambCase) SetLambCase = nullptr;
  decltype(&::GetLambCase) GetLambCase = nullptr;
  decltype(&::SetGKCase) SetGKCase = nullptr;
  decltype(&::GetGKCase) GetGKCase = nullptr;
  decltype(&::DEZGMS) DEZGMS = nullptr;
  decltype(&::GMSDEZ) GMSDEZ = nullptr;
  decltype(&::BLH_to_XYZ) BLH_to_XYZ = nullptr;
  decltype(&::XYZ_to_BLH) XYZ_to_BLH = nullptr;
  decltype(&::EllipsoidalCoordinates_to_XYZ) EllipsoidalCoordinates_to_XYZ = nullptr;
  decltype(&::XYZ_to_EllipsoidalCoordinates) XYZ_to_EllipsoidalCoordinates = nullptr;
  decltype(&::BL_to_EN_Soldner) BL_to_EN_Soldner = nullptr;
  decltype(&::EN_to_BL_Soldner) EN_to_BL_Soldner = nullptr;
  decltype(&::BL_to_EN_UTM_Raw) BL_to_EN_UTM_Raw = nullptr;
  decltype(&::EN_to_BL_UTM_Raw) EN_to_BL_UTM_Raw = nullptr;
  decltype(&::BL_to_EN_UTM_With_Zone) BL_to_EN_UTM_With_Zone = nullptr;
  decltype(&::EN_to_BL_UTM_With_Zone) EN_to_BL_UTM_With_Zone = nullptr;
  decltype(&::BL_to_EN_GK) BL_to_EN_GK = nullptr;
  decltype(&::EN_to_BL_GK) EN_to_BL_GK = nullptr;
  decltype(&::BL_to_EN_Lambert) BL_to_EN_Lambert = nullptr;
  decltype(&::EN_to_BL_Lambert) EN_to_BL_Lambert = nullptr;
  decltype(&::BL_to_EN_Mercator) BL_to_EN_Mercator = nullptr;
  decltype(&::EN_to_BL_Mercator) EN_to_BL_Mercator = nullptr;
  decltype(&::BL_to_EN_EOV) BL_to_EN_EOV = nullptr;
  decltype(&::EN_to_BL_EOV) EN_to_BL_EOV = nullptr;
  decltype(&::BL_to_EN_Switzerland_Conformal_DoubleProjection)
      BL_to_EN_Switzerland_Conformal_DoubleProjection = nullptr;
  decltype(&::EN_to_BL_Switzerland_Conformal_DoubleProjection)
      EN_to_BL_Switzerland_Conformal_DoubleProjection = nullptr;
  // Not among the 46: the array conversions of newer libraries, nullptr
  // when the library lacks them (the binding is ready without them).
  decltype(&::BLH_to_XYZ_Points) BLH_to_XYZ_Points = nullptr;
  decltype(&::XYZ_to_BLH_Points) XYZ_to_BLH_Points = nullptr;
};

enum class PelProjectionLoading {
  Shared,      // one loaded instance and entry table per file and process
  PerBinding,  // the binding loads the file and looks the entries up itself
};

class CPelProjectionDll {
 public:
  // PelProjection.so in the executable's folder.
  CPelProjectionDll();
  explicit CPelProjectionDll(const std::filesystem::path& libraryFile,
                             PelProjectionLoading loading = PelProjectionLoading::Shared);
  ~CPelProjectionDll();
  CPelProjectionDll(const CPelProjectionDll&) = delete;
  CPelProjectionDll& operator=(const CPelProjectionDll&) = delete;

  static const std::filesystem::path& DefaultLibraryFile();

  // Library loaded and all 46 entries found.
  bool IsReady() const;
  // Loader message of a failed load or the name of the first missing entry.
  std::string LoadError() const;

  // Stores a and b into the state copy; like every value of the copy they
  // reach the library with the push before the next conversion (which
  // stores them as SetEllipDim would).
  int SetEllipsoid(double a, double b);
  // Pushes the copy, then BLH_to_XYZ (degrees, degrees, metres -> metres).
  int GeographicToCartesian(double latitude, double longitude, double height, double& X, double& Y,
                            double& Z);
  // Pushes the copy, then XYZ_to_BLH.
  int CartesianToGeographic(double X, double Y, double Z, double& latitude, double& longitude,
                            double& height);
  // Each returns 1, -1000 when not ready (nothing called, outputs untouched)
  // or -2000 when the library threw.

  // The same two conversions for count points (arrays of count values;
  // an output array may be an input array, nothing else may overlap). One
  // push and one array call where the library has the array exports, else
  // a push and a single call per point in order; the outputs are the same
  // bits either way. converted tells how many leading points a conversion
  // reached: count on success, else those before the single call that threw
  // (0 when the array call threw; the outputs of the others are undefined).
  int GeographicToCartesian(int count, const double* latitude, const double* longitude, const double* height,
                            double* X, double* Y, double* Z, int& converted);
  int CartesianToGeographic(int count, const double* X, const double* Y, const double* Z, double* latitude,
                            double* longitude, double* height, int& converted);

  // The binding's copy of the state (starts all zero).
  const ProjectionStateValues& State() const { return state_; }
  ProjectionStateValues& State() { return state_; }

  // The bound entries, for callers that need more than the three operations
  // (nullptr when not ready).
  const PelProjectionEntries* Entries() const;

  class Library;  // a loaded file with its entry table

 private:
  void Push() const;

  std::shared_ptr<const Library> library_;
  ProjectionStateValues state_;
};

}  // namespace tarvik
