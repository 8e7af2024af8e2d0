// libFuzzer target for the speaker model (.usr) reader: any file is read or refused without a
// crash or an assertion; a file that was accepted is written, read back and must give the same
// templates and warp bin.
//
//   build-fuzz/bin/usr_fuzz -max_total_time=600 corpus/
#include <cstdint>

#include "models/user.h"
#include "tests/fuzz/fuzzfile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzfile::abortOnAssertions();
  if (size > 1024 * 1024) return 0;
  using namespace fuzzfile;
  int input = memoryFile(data, size);
  vlm::User* user = new vlm::User;
  if (user->readFile(pathOf(input).c_str())) {
    int written = memoryFile("", 0);
    if (!user->writeFd(written)) std::abort();
    vlm::User* back = new vlm::User;
    if (!back->readFile(pathOf(written).c_str())) mismatch(contents(written), "(not read back)");
    if (std::memcmp(back->models, user->models, sizeof user->models) != 0 || back->vtln != user->vtln)
      mismatch(contents(written), "(read back differently)");
    delete back;
    close(written);
  }
  delete user;
  close(input);
  return 0;
}
