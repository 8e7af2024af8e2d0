#define VLM_UNIT "enroll"
// The enrollment program's files: enrol.cfg, prompt files, save names, file lists, letter groups.
#include "apps/enroll/files.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "lexicon/worddict.h"

namespace vlm {

namespace {

// Reads one line of at most room - 1 characters into line; the rest of a longer line is skipped.
// False at the end of the file. A NUL byte ends the line's text; CR before LF is dropped.
bool readBoundedLine(FILE* f, std::string* line) {
  line->clear();
  int c;
  bool any = false, ended = false;
  while ((c = std::fgetc(f)) != EOF) {
    any = true;
    if (c == '\n') break;
    if (c == 0) ended = true;
    if (!ended && line->size() < kEnrolLineRoom - 1) line->push_back(static_cast<char>(c));
  }
  if (!line->empty() && line->back() == '\r') line->pop_back();
  return any;
}

bool lowerEquals(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

bool endsWith(const std::string& name, const char* suffix) {
  const size_t n = std::strlen(suffix);
  return name.size() >= n && strcasecmp(name.c_str() + name.size() - n, suffix) == 0;
}

}  // namespace

bool isPlainFileName(const std::string& name) {
  if (name.empty() || name.size() > 127 || name == "." || name == "..") return false;
  for (unsigned char c : name)
    if (c < 32 || c == 127 || c == '/' || c == '\\') return false;
  return true;
}

bool isReservedUsr(const std::string& name) { return lowerEquals(name, "newuser.usr") || lowerEquals(name, "delta.usr"); }

bool isReservedVoc(const std::string& name) {
  return lowerEquals(name, "fulldict.voc") || lowerEquals(name, "base.voc") || lowerEquals(name, "enrol.voc") ||
         lowerEquals(name, "abc.voc");
}

std::string usrSaveName(const std::string& text) {
  std::string name = text;
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot + 4 >= name.size()) name.erase(dot);
  if (name.empty() || name[0] == '.') return "";   // no hidden files
  name += ".usr";
  if (!isPlainFileName(name) || isReservedUsr(name)) return "";
  return name;
}

std::string exitProgramName(const std::string& value) {
  std::string name = value;
  if (endsWith(name, ".exe")) name.erase(name.size() - 4);
  return name;
}

int readEnrolConfig(const std::string& path, EnrolConfig* config) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return 0;
  std::string line;
  while (readBoundedLine(f, &line)) {
    if (line.size() < 2 || line[1] != ':') continue;
    const std::string value = line.substr(2);
    switch (line[0]) {
      case 'b':
        if (isPlainFileName(value)) config->base = value;
        break;
      case 'n': config->newUser = value != "0"; break;
      case 's':
        if (value.empty() || isPlainFileName(value)) config->exitProgram = exitProgramName(value);
        break;
      case 'u': {
        if (!isPlainFileName(value)) break;
        std::string name = endsWith(value, ".usr") ? value : value + ".usr";
        config->saveName = isReservedUsr(name) || !isPlainFileName(name) ? "" : name;
        break;
      }
      default: break;
    }
  }
  std::fclose(f);
  return 1;
}

std::vector<std::string> filesEnding(const std::string& dir, const char* suffix) {
  std::vector<std::string> names;
  DIR* d = opendir(dir.empty() ? "." : dir.c_str());
  if (d == nullptr) return names;
  while (dirent* e = readdir(d)) {
    std::string name = e->d_name;
    if (name.size() > std::strlen(suffix) && endsWith(name, suffix) && isPlainFileName(name)) names.push_back(name);
  }
  closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

// ---- prompt file -------------------------------------------------------------------------------

int PromptFile::open(const std::string& path) {
  close();
  file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return 0;
  struct stat st;
  size = fstat(fileno(file), &st) == 0 && S_ISREG(st.st_mode) ? static_cast<long>(st.st_size) : 0;
  if (size == 0 && fstat(fileno(file), &st) == 0 && S_ISDIR(st.st_mode)) {
    close();
    return 0;
  }
  filePath = path;
  return 1;
}

void PromptFile::close() {
  if (file) std::fclose(file);
  file = nullptr;
}

void PromptFile::rewind() {
  if (file) std::rewind(file);
}

int PromptFile::percentDone() const {
  if (!file || size <= 0) return 0;
  const long at = std::ftell(file);
  return at < 0 ? 0 : static_cast<int>(std::min<long long>(100, static_cast<long long>(at) * 100 / size));
}

PromptLine PromptFile::next() {
  PromptLine out;
  if (!file) return out;
  std::string line;
  while (readBoundedLine(file, &line)) {
    const size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos) continue;
    line.erase(0, start);
    if (line.rfind("cmd_", 0) == 0) {
      if (line.rfind("cmd_start_calibrate", 0) == 0) {
        out.kind = PromptLine::eStartCalibrate;
        return out;
      }
      if (line.rfind("cmd_end_calibrate", 0) == 0) {
        out.kind = PromptLine::eEndCalibrate;
        return out;
      }
      continue;
    }
    const size_t tab = line.find('\t');
    out.text = line.substr(0, tab);
    while (!out.text.empty() && out.text.back() == ' ') out.text.pop_back();
    if (tab != std::string::npos) {
      std::string rec = line.substr(tab + 1);
      const size_t r = rec.find_first_not_of(" \t");
      rec = r == std::string::npos ? "" : rec.substr(r);
      while (!rec.empty() && (rec.back() == ' ' || rec.back() == '\t')) rec.pop_back();
      out.recording = rec;
    }
    if (out.text.empty()) continue;
    out.kind = PromptLine::ePrompt;
    return out;
  }
  return out;
}

// ---- letter groups -----------------------------------------------------------------------------

std::vector<LetterRule> letterGroupRules(const std::string& text, WordDictionary* abc, const std::string& prefix) {
  std::string letters;
  for (unsigned char c : text) {
    if (std::isalpha(c) || c == '\'') letters.push_back(static_cast<char>(std::tolower(c)));
    else if ((c == ' ' || c == '_') && !letters.empty() && letters.back() != '_') letters.push_back('_');
  }
  while (!letters.empty() && letters.back() == '_') letters.pop_back();
  std::vector<LetterRule> rules;
  if (letters.empty() || abc == nullptr) return rules;
  const int n = static_cast<int>(letters.size());
  // The groups starting at each position: the shortest and the longest abc knows.
  std::vector<std::vector<int>> lengths(n);
  for (int p = 0; p < n; p++) {
    int shortest = 0, longest = 0;
    for (int len = 1; p + len <= n && len <= 8; len++) {
      const std::string g = letters.substr(p, len);
      if (g.find('_') != std::string::npos && g != "_") break;
      if (abc->getWordData(g.c_str()) == nullptr) continue;
      if (shortest == 0) shortest = len;
      longest = len;
    }
    if (shortest) lengths[p].push_back(shortest);
    if (longest && longest != shortest) lengths[p].push_back(longest);
  }
  // The positions reached from the start; a position without a group passes to the next letter.
  std::vector<char> reached(n + 1, 0);
  reached[0] = 1;
  for (int p = 0; p < n; p++) {
    if (!reached[p]) continue;
    if (lengths[p].empty()) reached[p + 1] = 1;
    for (int len : lengths[p]) reached[p + len] = 1;
  }
  // Rules from the last position back, so that every reference names a rule made before it; a
  // branch to a position that made no rule (nothing can follow there) is left out.
  std::vector<char> made(n + 1, 0);
  made[n] = 1;
  for (int p = n - 1; p >= 0; p--) {
    if (!reached[p]) continue;
    auto after = [&](int q) { return q >= n ? std::string() : " &" + prefix + std::to_string(q); };
    std::vector<std::string> branches;
    for (int len : lengths[p])
      if (made[p + len]) branches.push_back("( < " + letters.substr(p, len) + " >" + after(p + len) + " )");
    if (lengths[p].empty() && p + 1 < n && made[p + 1]) branches.push_back("( &" + prefix + std::to_string(p + 1) + " )");
    if (branches.empty()) continue;
    made[p] = 1;
    rules.push_back({prefix + std::to_string(p), branches.size() == 1 ? branches[0] : "{ " + branches[0] + " " + branches[1] + " }"});
  }
  if (!made[0]) rules.clear();
  std::reverse(rules.begin(), rules.end());
  return rules;
}

}  // namespace vlm
