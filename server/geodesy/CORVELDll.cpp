#include "geodesy/CORVELDll.h"

namespace tarvik {

bool CORVELDll::Load(const std::filesystem::path& libraryFile) {
  Release();
  if (!library_.Load(libraryFile)) return false;
  const bool init = library_.Bind("InitOrvelDB", init_);
  const bool surface = library_.Bind("GetNFEMbyLatLongH", surface_);
  ready_ = init && surface;
  return ready_;
}

void CORVELDll::Release() {
  ready_ = false;
  init_ = nullptr;
  surface_ = nullptr;
  library_.Release();
}

int CORVELDll::InitOrvelDB(const std::string& databasePath) {
  if (!ready_) return kOrvelNotReady;
  try {
    return init_(databasePath.c_str());
  } catch (...) {
    return kOrvelCallException;
  }
}

int CORVELDll::GetNFEMbyLatLongH(double latitude, double longitude, double height, double factor,
                                 OrvelSurfaceValues& out) {
  if (!ready_) return kOrvelNotReady;
  try {
    return surface_(latitude, longitude, height, factor, &out.value1, &out.surfaceHeight, &out.value3,
                    &out.value4);
  } catch (...) {
    return kOrvelCallException;
  }
}

}  // namespace tarvik
