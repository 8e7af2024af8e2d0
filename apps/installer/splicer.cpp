// splicer: merges the user's own command list into the new one on the PC (the installer runs it
// as "splicer cmdce" in the folder that holds cmdce.tsv, cmdce.voc, command.tsv and command.voc).
//
//   splicer NAME
//
// The user's entries and pronunciations (NAME.tsv, NAME.voc) are kept, default entries the user
// lacks are added, an entry in both keeps the user's version; command.tsv and command.voc are
// replaced together. apps/installer/splice.h says how the defaults are kept apart.
// Exit status 0, 1 when the merge fails (nothing replaced; the reason on standard error), 2 for a
// usage error.
#include <cstdio>
#include <cstring>
#include <string>

#include "apps/installer/splice.h"
#include "foundation/log.h"
#include "tools/cli.h"

using namespace vlm;

int main(int argc, char** argv) {
  vlmcli::answerHelpAndVersion(argc, argv, "splicer",
                               "usage: splicer NAME\n"
                               "Merges the user's command list NAME.tsv / NAME.voc into command.tsv / command.voc\n"
                               "of the current folder: the user's entries and pronunciations are kept, new default\n"
                               "entries are added. The defaults are kept as cmddef.tsv / cmddef.voc.\n"
                               "Example: splicer cmdce\n");
  if (argc != 2 || argv[1][0] == 0 || std::strchr(argv[1], '/') != nullptr) {
    std::fprintf(stderr, "usage: splicer NAME   (NAME.tsv and NAME.voc in the current folder)\n");
    return 2;
  }
  std::string error;
  if (!spliceCommands(".", argv[1], &error)) {
    std::fprintf(stderr, "splicer: %s\n", error.c_str());
    logError("splicer: ", error.c_str());
    return 1;
  }
  return 0;
}
