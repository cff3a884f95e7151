#pragma once
// Which buttons of the control panel are enabled, from the state of the
// selected configuration. Kept apart from the page so the rules have one
// home and can be checked without a browser.

namespace tarvik {

struct PanelButtons {
  bool add = true;
  bool copy = false;
  bool remove = false;
  bool configure = false;
  bool problems = false;
  bool startStop = false;
  bool startStopReadsStop = false;  // the button reads "Stop" instead of "Start"
  bool exit = true;
};

struct SelectedState {
  bool valid = false;  // ready to start when stopped
  bool running = false;
  bool hasProblems = false;  // problem text not empty
};

// `selected` is null when no configuration is selected.
PanelButtons ComputePanelButtons(const SelectedState* selected, bool anyRunning);

}  // namespace tarvik
