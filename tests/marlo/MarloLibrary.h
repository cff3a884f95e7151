#pragma once
// A loaded copy of MarloDLL.so, bound by name like the server does.

#include <dlfcn.h>

#include <string>

namespace marlotest {

class MarloLibrary {
 public:
  using GeoIn = int (*)(double, double, double, double*, double*, double*);
  using GeoInPlaneOut = int (*)(double, double, double, double, double*, double*, double*);
  using PlaneInPlaneOut = int (*)(double, double, double, double, double, double*, double*, double*);

  explicit MarloLibrary(const std::string& path) {
    handle_ = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) return;
    InitDB = Get<int (*)(const char*)>("InitDB");
    ExitDB = Get<void (*)()>("ExitDB");
    SetInterpolationType = Get<void (*)(int, int, int, double, double)>("SetInterpolationType");
    SetInterpolationVectorPath = Get<unsigned char (*)(const char*)>("SetInterpolationVectorPath");
    CreateCoefficientVector = Get<int (*)(const char*)>("CreateCoefficientVector");
    TestFunc = Get<int (*)()>("TestFunc");
    BLH_BLH = Get<GeoIn>("TransformPoint_BLH_in_BLH_out");
  }
  ~MarloLibrary() {
    if (handle_ != nullptr) ::dlclose(handle_);
  }
  MarloLibrary(const MarloLibrary&) = delete;
  MarloLibrary& operator=(const MarloLibrary&) = delete;

  bool Loaded() const { return handle_ != nullptr && InitDB != nullptr && BLH_BLH != nullptr; }

  template <typename T>
  T Get(const char* name) const {
    return reinterpret_cast<T>(::dlsym(handle_, name));
  }

  int (*InitDB)(const char*) = nullptr;
  void (*ExitDB)() = nullptr;
  void (*SetInterpolationType)(int, int, int, double, double) = nullptr;
  unsigned char (*SetInterpolationVectorPath)(const char*) = nullptr;
  int (*CreateCoefficientVector)(const char*) = nullptr;
  int (*TestFunc)() = nullptr;
  GeoIn BLH_BLH = nullptr;

 private:
  void* handle_ = nullptr;
};

}  // namespace marlotest
