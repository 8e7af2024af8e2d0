// Linked into every test program: the speech log goes to "velmora.log" in the test's working
// folder (and so does the log of every program a test runs), where the tests read it, instead of
// the user's data or state directory.
#include <cstdlib>

namespace {
const int kLogHere = setenv("VELMORA_LOG", "velmora.log", 0);
}  // namespace
