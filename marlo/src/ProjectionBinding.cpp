#include "ProjectionBinding.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <mutex>
#include <string>

namespace marlo {

struct ProjectionFunctions {
  void (*InitializeDLL)(double, int, double, double, double, double, double, double, double, int, int, int);
  void (*BLH_to_XYZ)(double, double, double, double*, double*, double*);
  void (*XYZ_to_BLH)(double, double, double, double*, double*, double*);
  void (*BL_to_EN_UTM_Raw)(double, double, double*, double*);
  void (*EN_to_BL_UTM_Raw)(double, double, double*, double*);
  void (*BL_to_EN_GK)(double, double, double*, double*);
  void (*EN_to_BL_GK)(double, double, double*, double*);
  int (*BL_to_EN_Lambert)(double, double, double*, double*);
  void (*BL_to_EN_EOV)(double, double, double*, double*);
  void (*EN_to_BL_EOV)(double, double, double*, double*);
  // Optional array forms (nullptr when the library lacks them).
  void (*BLH_to_XYZ_Points)(int, const double*, const double*, const double*, double*, double*, double*);
  void (*XYZ_to_BLH_Points)(int, const double*, const double*, const double*, double*, double*, double*);
  void (*BL_to_EN_GK_Points)(int, const double*, const double*, double*, double*);
};

namespace {

// Every name the binding requires; a library lacking any one is not usable.
constexpr const char* kRequiredNames[] = {"InitializeDLL",
                                          "SetL0",
                                          "GetL0",
                                          "SetL0Auto",
                                          "GetL0Auto",
                                          "SetB0",
                                          "GetB0",
                                          "SetEllipDim",
                                          "GetA",
                                          "GetB",
                                          "SetBNord",
                                          "GetBNord",
                                          "SetBSued",
                                          "GetBSued",
                                          "SetFalseNorth",
                                          "GetFalseNorth",
                                          "SetFalseEast",
                                          "GetFalseEast",
                                          "SetLambType",
                                          "GetLambType",
                                          "SetLambCase",
                                          "GetLambCase",
                                          "SetGKCase",
                                          "GetGKCase",
                                          "DEZGMS",
                                          "GMSDEZ",
                                          "BLH_to_XYZ",
                                          "XYZ_to_BLH",
                                          "BL_to_EN_Soldner",
                                          "EN_to_BL_Soldner",
                                          "BL_to_EN_UTM_Raw",
                                          "EN_to_BL_UTM_Raw",
                                          "BL_to_EN_UTM_With_Zone",
                                          "EN_to_BL_UTM_With_Zone",
                                          "BL_to_EN_GK",
                                          "EN_to_BL_GK",
                                          "BL_to_EN_Lambert",
                                          "EN_to_BL_Lambert",
                                          "BL_to_EN_Mercator",
                                          "EN_to_BL_Mercator",
                                          "BL_to_EN_EOV",
                                          "EN_to_BL_EOV",
                                          "BL_to_EN_Switzerland_Conformal_DoubleProjection",
                                          "EN_to_BL_Switzerland_Conformal_DoubleProjection"};

constexpr const char* kLibraryName = "PelProjection.so";

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

std::string HostProgramFolder() {
  char buffer[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return {};
  return FolderOf(std::string(buffer, static_cast<std::size_t>(n)));
}

std::string OwnFolder() {
  Dl_info info{};
  if (::dladdr(reinterpret_cast<void*>(&LoadedProjection), &info) == 0 || info.dli_fname == nullptr)
    return {};
  return FolderOf(info.dli_fname);
}

template <typename T>
bool Bind(void* handle, const char* name, T& target) {
  void* symbol = ::dlsym(handle, name);
  if (symbol == nullptr) return false;
  target = reinterpret_cast<T>(symbol);
  return true;
}

// The handle is kept for the lifetime of this copy; the projection library is
// stateless towards us apart from the per-thread state we push.
struct LoadedLibrary {
  void* handle = nullptr;
  ProjectionFunctions functions{};
  bool usable = false;

  LoadedLibrary() {
    for (const std::string& folder : {HostProgramFolder(), OwnFolder()}) {
      if (folder.empty()) continue;
      handle = ::dlopen((folder + "/" + kLibraryName).c_str(), RTLD_NOW | RTLD_LOCAL);
      if (handle != nullptr) break;
    }
    if (handle == nullptr) return;
    for (const char* name : kRequiredNames)
      if (::dlsym(handle, name) == nullptr) return;
    ProjectionFunctions& f = functions;
    usable =
        Bind(handle, "InitializeDLL", f.InitializeDLL) && Bind(handle, "BLH_to_XYZ", f.BLH_to_XYZ) &&
        Bind(handle, "XYZ_to_BLH", f.XYZ_to_BLH) && Bind(handle, "BL_to_EN_UTM_Raw", f.BL_to_EN_UTM_Raw) &&
        Bind(handle, "EN_to_BL_UTM_Raw", f.EN_to_BL_UTM_Raw) && Bind(handle, "BL_to_EN_GK", f.BL_to_EN_GK) &&
        Bind(handle, "EN_to_BL_GK", f.EN_to_BL_GK) && Bind(handle, "BL_to_EN_Lambert", f.BL_to_EN_Lambert) &&
        Bind(handle, "BL_to_EN_EOV", f.BL_to_EN_EOV) && Bind(handle, "EN_to_BL_EOV", f.EN_to_BL_EOV);
    // Not among the required names: without them points go one by one.
    Bind(handle, "BLH_to_XYZ_Points", f.BLH_to_XYZ_Points);
    Bind(handle, "XYZ_to_BLH_Points", f.XYZ_to_BLH_Points);
    Bind(handle, "BL_to_EN_GK_Points", f.BL_to_EN_GK_Points);
  }
  ~LoadedLibrary() {
    if (handle != nullptr) ::dlclose(handle);
  }
  LoadedLibrary(const LoadedLibrary&) = delete;
  LoadedLibrary& operator=(const LoadedLibrary&) = delete;
};

}  // namespace

const ProjectionFunctions* LoadedProjection() {
  static const LoadedLibrary library;  // thread-safe one-time load
  return library.usable ? &library.functions : nullptr;
}

ProjectionBinding::ProjectionBinding() : f_(LoadedProjection()) {}

void ProjectionBinding::Push() const {
  f_->InitializeDLL(L0_, L0Auto_, B0_, a_, b_, BNord_, BSued_, FalseNorth_, FalseEast_, LambType_, LambCase_,
                    GKCase_);
}

#define MARLO_CALL(expr)             \
  do {                               \
    if (f_ == nullptr) return -1000; \
    Push();                          \
    expr;                            \
    return 1;                        \
  } while (0)

int ProjectionBinding::BLH_to_XYZ(double B, double L, double H, double* X, double* Y, double* Z) const {
  MARLO_CALL(f_->BLH_to_XYZ(B, L, H, X, Y, Z));
}
int ProjectionBinding::XYZ_to_BLH(double X, double Y, double Z, double* B, double* L, double* H) const {
  MARLO_CALL(f_->XYZ_to_BLH(X, Y, Z, B, L, H));
}
int ProjectionBinding::BL_to_EN_GK(double B, double L, double* E, double* N) const {
  MARLO_CALL(f_->BL_to_EN_GK(B, L, E, N));
}
int ProjectionBinding::EN_to_BL_GK(double E, double N, double* B, double* L) const {
  MARLO_CALL(f_->EN_to_BL_GK(E, N, B, L));
}
int ProjectionBinding::BL_to_EN_UTM_Raw(double B, double L, double* E, double* N) const {
  MARLO_CALL(f_->BL_to_EN_UTM_Raw(B, L, E, N));
}
int ProjectionBinding::EN_to_BL_UTM_Raw(double E, double N, double* B, double* L) const {
  MARLO_CALL(f_->EN_to_BL_UTM_Raw(E, N, B, L));
}
int ProjectionBinding::BL_to_EN_EOV(double B, double L, double* E, double* N) const {
  MARLO_CALL(f_->BL_to_EN_EOV(B, L, E, N));
}
int ProjectionBinding::EN_to_BL_EOV(double E, double N, double* B, double* L) const {
  MARLO_CALL(f_->EN_to_BL_EOV(E, N, B, L));
}

#undef MARLO_CALL

int ProjectionBinding::BLH_to_XYZ(int count, const double* B, const double* L, const double* H, double* X,
                                  double* Y, double* Z) const {
  if (f_ == nullptr) return -1000;
  if (f_->BLH_to_XYZ_Points != nullptr) {
    Push();
    f_->BLH_to_XYZ_Points(count, B, L, H, X, Y, Z);
    return 1;
  }
  for (int i = 0; i < count; ++i) {
    Push();
    f_->BLH_to_XYZ(B[i], L[i], H[i], &X[i], &Y[i], &Z[i]);
  }
  return 1;
}

int ProjectionBinding::XYZ_to_BLH(int count, const double* X, const double* Y, const double* Z, double* B,
                                  double* L, double* H) const {
  if (f_ == nullptr) return -1000;
  if (f_->XYZ_to_BLH_Points != nullptr) {
    Push();
    f_->XYZ_to_BLH_Points(count, X, Y, Z, B, L, H);
    return 1;
  }
  for (int i = 0; i < count; ++i) {
    Push();
    f_->XYZ_to_BLH(X[i], Y[i], Z[i], &B[i], &L[i], &H[i]);
  }
  return 1;
}

int ProjectionBinding::BL_to_EN_GK(int count, const double* B, const double* L, double* E, double* N) const {
  if (f_ == nullptr) return -1000;
  if (f_->BL_to_EN_GK_Points != nullptr) {
    Push();
    f_->BL_to_EN_GK_Points(count, B, L, E, N);
    return 1;
  }
  for (int i = 0; i < count; ++i) {
    Push();
    f_->BL_to_EN_GK(B[i], L[i], &E[i], &N[i]);
  }
  return 1;
}

int ProjectionBinding::BL_to_EN_Lambert(double B, double L, double* E, double* N) const {
  if (f_ == nullptr) return -1000;
  Push();
  return f_->BL_to_EN_Lambert(B, L, E, N) == 0 ? 1 : -1;
}

}  // namespace marlo
