// namefind.cfg: the application's settings, one "key:value" line each, read at start and written
// whole at exit when they changed. docs/namefind.md lists the keys.
#pragma once
#include <string>

#include "apps/namefind/state.h"

namespace vlm {

constexpr int kConfigLineBytes = 255;   // bytes of a line that are read; the rest is skipped

// Reads path into state (file names are joined to state.dataDir). Returns 1 when the file gave a
// valid start configuration (user file, contacts file and contacts vocabulary paths all set), 0
// otherwise, also when the file cannot be read.
int readConfig(const std::string& path, NamefindState* state);
// The file's text for state.
std::string configText(const NamefindState& state);
// Writes configText under a temporary name next to path and renames it over path; a failed write
// leaves the previous file. 1 on success (0 is logged).
int writeConfig(const std::string& path, const NamefindState& state);

// Sets the prune threshold when value lies in 100..400: the search's state beam becomes value and
// its word-end beam value - 10. Returns 1 when accepted; otherwise nothing changes.
int applyPruneThreshold(NamefindState* state, int value);
// The leading decimal number of text (0 when it starts with no digit; clamped at 999999999);
// *digits tells whether it started with a digit.
int leadingNumber(const std::string& text, bool* digits = nullptr);

}  // namespace vlm
