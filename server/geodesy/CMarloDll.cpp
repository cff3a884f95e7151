#include "geodesy/CMarloDll.h"

namespace tarvik {

bool CMarloDll::Load(const std::filesystem::path& libraryFile) {
  Release();
  if (!library_.Load(libraryFile)) return false;
  const bool init = library_.Bind("InitDB", initDB_);
  const bool transform = library_.Bind("TransformPoint_BLH_in_BLH_out", transform_);
  ready_ = init && transform;
  // Optional: libraries without it are used point by point.
  library_.Bind("TransformPoints_BLH_in_BLH_out", transformPoints_);
  return ready_;
}

void CMarloDll::Release() {
  ready_ = false;
  initDB_ = nullptr;
  transform_ = nullptr;
  transformPoints_ = nullptr;
  library_.Release();
}

bool CMarloDll::SetInterpolationType(int onOff, int weightFunction, int neighbourMode, double searchRadiusKm,
                                     double shapeDistance) {
  using Fn = decltype(::SetInterpolationType);
  Fn* entry = nullptr;
  if (!ready_ || !library_.Bind("SetInterpolationType", entry)) return false;
  try {
    entry(onOff, weightFunction, neighbourMode, searchRadiusKm, shapeDistance);
  } catch (...) {
    return false;
  }
  return true;
}

int CMarloDll::InitDB(const std::string& databasePath) {
  if (!ready_) return kMarloNotReady;
  try {
    return initDB_(databasePath.c_str());
  } catch (...) {
    return kMarloCallException;
  }
}

int CMarloDll::TransformPoint_BLH_in_BLH_out(double longitude, double latitude, double height,
                                             double& longitudeOut, double& latitudeOut, double& heightOut) {
  if (!ready_) return kMarloCallFailed;
  try {
    return transform_(longitude, latitude, height, &longitudeOut, &latitudeOut, &heightOut);
  } catch (...) {
    return kMarloCallFailed;
  }
}

void CMarloDll::TransformPoints_BLH_in_BLH_out(int count, const double* longitude, const double* latitude,
                                               const double* height, double* longitudeOut,
                                               double* latitudeOut, double* heightOut, int* results) {
  if (HasPointArrays()) {
    try {
      transformPoints_(count, longitude, latitude, height, longitudeOut, latitudeOut, heightOut, results);
      return;
    } catch (...) {
      // Point by point below: each call that throws gives its own code.
    }
  }
  for (int i = 0; i < count; ++i)
    results[i] = TransformPoint_BLH_in_BLH_out(longitude[i], latitude[i], height[i], longitudeOut[i],
                                               latitudeOut[i], heightOut[i]);
}

std::string MarloErrorText(int code) {
  switch (code) {
    case MARLO_AREA_NOT_FOUND:
      return "Area not found";
    case MARLO_OUT_OF_RANGE:
      return "Area not supported";
    case MARLO_CANNOT_OPEN:
      return "Error reading database. Database file might be corrupt.";
    case MARLO_BAD_DATABASE:
      return "Database is not ready";
    case MARLO_NO_GRID:
      return "Database does not contain grid information.";
    case MARLO_NO_AREAS:
      return "Database does not contain area information.";
    case MARLO_BAD_VERSION:
      return "Database version is not compatible with current software version.";
    case MARLO_NOT_INITIALIZED:
      return "Marlo Access DLL is not initialized";
    case kMarloNotReady:
      return "Marlo Access DLL could not be loaded or lacks an entry point.";
    case kMarloCallException:
      return "Marlo Access DLL failed while opening the database.";
    default:
      return "Unknown database error " + std::to_string(code) + ".";
  }
}

}  // namespace tarvik
