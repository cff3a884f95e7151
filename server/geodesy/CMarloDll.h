#pragma once
// Binding of one module's private copy of the Marlo coefficient database
// library. Only the two entries the server needs are bound: opening the
// database and transforming one geographic point into the target datum.
//
// Each module loads its own copy of the library file, so each binding has
// its own library instance and database state. The binding is used under
// the module's lock; it is not meant to be shared between threads without
// one.
//
// No failure inside the library leaves the binding: a missing file, a
// missing entry or an exception thrown by a call becomes a result code.

#include <filesystem>
#include <string>

#include "MarloDLL.h"
#include "geodesy/DynamicLibrary.h"

namespace tarvik {

// Codes of the binding itself (next to the library's own codes).
constexpr int kMarloNotReady = -2006;       // library not loaded or an entry missing
constexpr int kMarloCallException = -2007;  // the library call threw
// What a point transformation gives when no library result exists (not
// ready, or the call threw): neither success nor one of the library's codes.
constexpr int kMarloCallFailed = 0;

class CMarloDll {
 public:
  CMarloDll() = default;
  ~CMarloDll() = default;
  CMarloDll(const CMarloDll&) = delete;
  CMarloDll& operator=(const CMarloDll&) = delete;

  // Loads the library file (full path) and looks up "InitDB" and
  // "TransformPoint_BLH_in_BLH_out". Returns IsReady(). Whatever was loaded
  // before is released first.
  bool Load(const std::filesystem::path& libraryFile);
  // Unloads the library and forgets both entries.
  void Release();

  // True only when the library is loaded and both entries were found.
  bool IsReady() const { return ready_; }
  // The loader's message of the last failed load or look-up (diagnostics).
  const std::string& LoadError() const { return library_.LastError(); }

  // Opens the database: -2006 not ready, -2007 the call threw, otherwise the
  // library's result (1 success, negative codes of MarloErrorText).
  int InitDB(const std::string& databasePath);

  // Transforms one point (degrees, degrees, metres). Returns 0 when not
  // ready or when the call threw, otherwise the library's result (1
  // success, -1000 outside every area, other negative codes). The outputs
  // are written only by the library.
  int TransformPoint_BLH_in_BLH_out(double longitude, double latitude, double height, double& longitudeOut,
                                    double& latitudeOut, double& heightOut);

  // The same for count points (arrays of count values): results[i] and the
  // outputs of point i as TransformPoint_BLH_in_BLH_out gives them. Through
  // the library's array form (TransformPoints_BLH_in_BLH_out) where it has
  // one, point by point otherwise, and point by point again when the array
  // call threw. Only an array form saves time.
  void TransformPoints_BLH_in_BLH_out(int count, const double* longitude, const double* latitude,
                                      const double* height, double* longitudeOut, double* latitudeOut,
                                      double* heightOut, int* results);
  // Whether the loaded library has the array form.
  bool HasPointArrays() const { return ready_ && transformPoints_ != nullptr; }

  // Switches the library's residual interpolation (SetInterpolationType,
  // looked up when needed: the server runs without it). False when the
  // library is not ready or lacks the entry.
  bool SetInterpolationType(int onOff, int weightFunction, int neighbourMode, double searchRadiusKm,
                            double shapeDistance);

 private:
  using InitDBFn = decltype(::InitDB);
  using TransformFn = decltype(::TransformPoint_BLH_in_BLH_out);
  using TransformPointsFn = decltype(::TransformPoints_BLH_in_BLH_out);

  DynamicLibrary library_;
  InitDBFn* initDB_ = nullptr;
  TransformFn* transform_ = nullptr;
  TransformPointsFn* transformPoints_ = nullptr;  // optional
  bool ready_ = false;
};

// Text of a database result code for the operator: the database's codes
// -1000..-1007, the binding's -2006/-2007, and a generic text with the number
// for anything else.
std::string MarloErrorText(int code);

}  // namespace tarvik
