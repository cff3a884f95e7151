// Exports of OrvelMan4. The loaded grid is replaced as a whole under a
// mutex; queries work on their own reference to the grid they started with,
// so a concurrent InitOrvelDB never changes a grid under a running query.

#include "OrvelMan4.h"

#include <cmath>
#include <memory>
#include <mutex>
#include <new>

#include "OrvelGrid.h"

namespace {

std::mutex gridMutex;
std::shared_ptr<const orvel::Grid> currentGrid;

std::shared_ptr<const orvel::Grid> Current() {
  std::lock_guard<std::mutex> lock(gridMutex);
  return currentGrid;
}

}  // namespace

extern "C" ORVELMAN4_API int InitOrvelDB(const char* path) {
  if (path == nullptr) return ORVEL_INIT_BAD_ARGUMENT;
  try {
    auto grid = std::make_shared<orvel::Grid>();
    const int result = orvel::Read(path, *grid);
    if (result != ORVEL_INIT_OK) return result;
    std::lock_guard<std::mutex> lock(gridMutex);
    currentGrid = std::move(grid);
    return ORVEL_INIT_OK;
  } catch (const std::bad_alloc&) {
    return ORVEL_INIT_TOO_LARGE;
  } catch (...) {
    return ORVEL_INIT_CANNOT_OPEN;
  }
}

extern "C" ORVELMAN4_API int GetNFEMbyLatLongH(double latitude, double longitude, double h, double factor,
                                               double* undulation, double* heightAboveSurface,
                                               double* slopeNorth, double* slopeEast) {
  if (undulation == nullptr || heightAboveSurface == nullptr || slopeNorth == nullptr || slopeEast == nullptr)
    return ORVEL_BAD_ARGUMENT;
  if (!std::isfinite(latitude) || !std::isfinite(longitude) || !std::isfinite(h) || !std::isfinite(factor) ||
      !(factor > 0.0))
    return ORVEL_BAD_ARGUMENT;
  try {
    const std::shared_ptr<const orvel::Grid> grid = Current();
    if (grid == nullptr) return ORVEL_NOT_INITIALIZED;
    orvel::Surface surface;
    const int result = orvel::Interpolate(*grid, latitude, longitude, surface);
    if (result != ORVEL_OK) return result;
    *undulation = surface.height / factor;
    *heightAboveSurface = (h - surface.height) / factor;
    *slopeNorth = surface.slopeNorth / factor;
    *slopeEast = surface.slopeEast / factor;
    return ORVEL_OK;
  } catch (...) {
    return ORVEL_NOT_INITIALIZED;
  }
}
