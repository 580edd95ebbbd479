// `vurnel desktop`: the tone control in the desktop's audio. Installs a PipeWire filter-chain
// drop-in in the user's configuration folder, sets its controls on the running filter and in the
// file at once, shows them, and removes the drop-in again.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "ToneOptions.h"

namespace vurnel::host {

// Runs `vurnel desktop ARGS...` (ARGS without the word "desktop"); returns the exit status:
// 0 done, 1 something failed, 2 bad arguments. Messages go to stdout, problems to stderr.
int RunDesktop(const std::vector<std::string>& args);

// The usage lines of `vurnel desktop`, for the program's help.
const char* DesktopUsage();

// The drop-in file, as the command reads and writes it.
namespace dropin {

// $XDG_CONFIG_HOME/pipewire/pipewire.conf.d/vurnel.conf, else ~/.config/pipewire/...
std::string Path();

// A fresh drop-in with these control values (in the ports' units), marked as vurnel's.
std::string Text(const float values[kToneControls]);

// True when the text carries the mark vurnel writes on its first line.
bool WrittenByVurnel(const std::string& text);

// The values in the text's control block.
ToneSettings Controls(const std::string& text);

// The text with the given controls' values replaced (or added to the control block); every
// other byte stays as it was. Throws std::runtime_error when the text has no control block.
std::string WithControls(const std::string& text, const ToneSettings& settings);

// A value as the file holds it: the shortest decimal that reads back as the same float.
std::string ValueText(float value);

} // namespace dropin

} // namespace vurnel::host
