#include "app/PanelButtons.h"

namespace tarvik {

PanelButtons ComputePanelButtons(const SelectedState* selected, bool anyRunning) {
  PanelButtons b;
  b.exit = !anyRunning;
  if (!selected) return b;  // only "Add ..." and "Exit"
  const bool idle = !selected->running;
  b.add = idle;
  b.copy = idle;
  b.remove = idle;
  b.configure = idle;
  b.problems = selected->hasProblems;
  // A running configuration was ready when it started; it can always stop.
  b.startStop = selected->running || selected->valid;
  b.startStopReadsStop = selected->running;
  return b;
}

}  // namespace tarvik
