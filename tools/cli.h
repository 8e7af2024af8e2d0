// What every console program answers before it reads its other arguments: --help (or -h) prints
// the program's help (usage, options, an example) on standard output, --version prints
// "<program> (Velmora) <version>"; both exit with status 0, or 1 when standard output cannot be
// written. Arguments after "--" are not looked at. Usage errors exit with status 2 and failures
// with 1 (docs/recognize.md, "Every program").
#pragma once
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifndef VLM_VERSION
#define VLM_VERSION "unknown"
#endif

namespace vlmcli {

inline void answerHelpAndVersion(int argc, char** argv, const char* program, const char* help) {
  for (int i = 1; i < argc; i++) {
    const char* a = argv[i];
    if (std::strcmp(a, "--") == 0) return;
    const bool askHelp = std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0;
    if (!askHelp && std::strcmp(a, "--version") != 0) continue;
    if (askHelp) std::fputs(help, stdout);
    else std::printf("%s (Velmora) %s\n", program, VLM_VERSION);
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
      std::fprintf(stderr, "%s: cannot write standard output: %s\n", program, std::strerror(errno ? errno : EIO));
      std::exit(1);
    }
    std::exit(0);
  }
}

}  // namespace vlmcli
