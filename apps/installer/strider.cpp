// strider: the contact lister the installer starts on the device. It writes the words of the
// device's contact names (contacts.vcf and the .tsv contact files of the data directory: first
// name, last name and company, one a line) to "\out.lst", the list pronmerge reads.
//
//   strider
//
// "\out.lst" is the device root's out.lst: $VELMORA_DEVICE_ROOT/out.lst when the installer's
// device link set it, else out.lst beside the data directory. The list is written whole under a
// temporary name and renamed, so the installer waiting for it never reads half a list.
// Exit status 0, or 1 when the list cannot be written (the reason on standard error).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "apps/installer/splice.h"
#include "foundation/filepath.h"
#include "foundation/log.h"
#include "foundation/safefile.h"
#include "tools/cli.h"

using namespace vlm;

int main(int argc, char** argv) {
  vlmcli::answerHelpAndVersion(argc, argv, "strider",
                               "usage: strider\n"
                               "Writes the words of the device's contact names (contacts.vcf and the .tsv contact\n"
                               "files of the data directory) to out.lst in the device's root folder\n"
                               "($VELMORA_DEVICE_ROOT, else the folder holding the data directory).\n"
                               "The installer starts it on the device.\n");
  if (argc > 1) {
    std::fprintf(stderr, "strider: takes no arguments\n");
    return 2;
  }
  findVelmora();
  std::string data = catFname2VlmDir("");
  while (data.size() > 1 && data.back() == '/') data.pop_back();
  std::string root;
  if (const char* r = std::getenv("VELMORA_DEVICE_ROOT"); r && *r) root = r;
  else root = data.substr(0, data.rfind('/') == std::string::npos ? 0 : data.rfind('/'));
  if (root.empty()) root = "/";
  const std::string target = root + (root.back() == '/' ? "" : "/") + "out.lst";

  const std::string list = contactNameList(data);
  SafeFile out;
  if (!out.open(target.c_str()) || !out.write(list.data(), list.size()) || !out.commit()) {
    std::fprintf(stderr, "strider: %s\n", out.reason());
    logError("strider: cannot write the name list: ", out.reason());
    return 1;
  }
  return 0;
}
