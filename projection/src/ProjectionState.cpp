#include "ProjectionState.h"

#include <type_traits>

#include "PelProjection.h"

namespace pel {

// Trivially destructible, so no thread-exit destructor is registered inside
// a library that its callers unload again with dlclose.
static_assert(std::is_trivially_destructible_v<ProjectionState>);

ProjectionState& State() {
  thread_local ProjectionState state;
  return state;
}

}  // namespace pel

using pel::State;

extern "C" {

void InitializeDLL(double L0, int L0Auto, double B0, double a, double b, double BNord, double BSued,
                   double FalseNorth, double FalseEast, int LambType, int LambCase, int GKCase) {
  pel::ProjectionState& s = State();
  s.L0 = L0;
  s.L0Auto = L0Auto;
  s.B0 = B0;
  s.A = a;
  s.B = b;
  s.BNord = BNord;
  s.BSued = BSued;
  s.FalseNorth = FalseNorth;
  s.FalseEast = FalseEast;
  s.LambType = LambType;
  s.LambCase = LambCase;
  s.GKCase = GKCase;
}

void SetL0(double L0) { State().L0 = L0; }
double GetL0(void) { return State().L0; }
void SetL0Auto(int L0Auto) { State().L0Auto = L0Auto; }
int GetL0Auto(void) { return State().L0Auto; }
void SetB0(double B0) { State().B0 = B0; }
double GetB0(void) { return State().B0; }
void SetEllipDim(double a, double b) {
  State().A = a;
  State().B = b;
}
double GetA(void) { return State().A; }
double GetB(void) { return State().B; }
void SetBNord(double BNord) { State().BNord = BNord; }
double GetBNord(void) { return State().BNord; }
void SetBSued(double BSued) { State().BSued = BSued; }
double GetBSued(void) { return State().BSued; }
void SetFalseNorth(double FalseNorth) { State().FalseNorth = FalseNorth; }
double GetFalseNorth(void) { return State().FalseNorth; }
void SetFalseEast(double FalseEast) { State().FalseEast = FalseEast; }
double GetFalseEast(void) { return State().FalseEast; }
void SetLambType(int LambType) { State().LambType = LambType; }
int GetLambType(void) { return State().LambType; }
void SetLambCase(int LambCase) { State().LambCase = LambCase; }
int GetLambCase(void) { return State().LambCase; }
void SetGKCase(int GKCase) { State().GKCase = GKCase; }
int GetGKCase(void) { return State().GKCase; }

}  // extern "C"
