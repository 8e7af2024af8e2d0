// Process creation for the device programs: a program is started without arguments, as the
// handheld's process creation does, and the caller does not wait for it.
#pragma once
#include <string>

namespace vlm {

// The folder that holds the running program's executable (from /proc/self/exe), with a trailing
// "/"; empty when it cannot be found.
std::string programFolder();

// Starts the executable at path with no arguments and with the caller's environment. 1 when the
// process was created; 0 when the file is missing, not executable or cannot be started (the
// reason and the path are written to the speech log).
int startProgram(const std::string& path);

}  // namespace vlm
