#pragma once
// Binding of one module's private copy of the height reference surface
// library OrvelMan4: opening its database and asking for the surface at a
// point. The library is outside the system; all the server relies on is
// "InitOrvelDB" (path -> 1 on success) and "GetNFEMbyLatLongH" (latitude,
// longitude, height, 1.0 -> four outputs, 0 on success, the second output
// being the surface height in metres).
//
// Used under the module's lock, like the database binding. No failure inside
// the library leaves the binding.

#include <filesystem>
#include <string>

#include "OrvelMan4.h"
#include "geodesy/DynamicLibrary.h"

namespace tarvik {

constexpr int kOrvelNotReady = -2006;
constexpr int kOrvelCallException = -2007;

// The four outputs of a surface query; `surfaceHeight` is the second.
struct OrvelSurfaceValues {
  double value1 = 0.0;
  double surfaceHeight = 0.0;
  double value3 = 0.0;
  double value4 = 0.0;
};

class CORVELDll {
 public:
  CORVELDll() = default;
  ~CORVELDll() = default;
  CORVELDll(const CORVELDll&) = delete;
  CORVELDll& operator=(const CORVELDll&) = delete;

  // Loads the library file (full path) and looks up both entries; returns
  // IsReady(). Whatever was loaded before is released first.
  bool Load(const std::filesystem::path& libraryFile);
  void Release();

  bool IsReady() const { return ready_; }
  const std::string& LoadError() const { return library_.LastError(); }

  // -2006 not ready, -2007 the call threw, otherwise the library's result
  // (1 success).
  int InitOrvelDB(const std::string& databasePath);

  // -2006 not ready, -2007 the call threw, otherwise the library's result
  // (0 success). Latitude and longitude in degrees, height in metres; the
  // server passes 1.0 as `factor`.
  int GetNFEMbyLatLongH(double latitude, double longitude, double height, double factor,
                        OrvelSurfaceValues& out);

 private:
  using InitFn = decltype(::InitOrvelDB);
  using SurfaceFn = decltype(::GetNFEMbyLatLongH);

  DynamicLibrary library_;
  InitFn* init_ = nullptr;
  SurfaceFn* surface_ = nullptr;
  bool ready_ = false;
};

}  // namespace tarvik
