#define VLM_UNIT "splice"
// splicer's merge and strider's name list.
#include "apps/installer/splice.h"

#include <dirent.h>
#include <errno.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <vector>

#include "apps/namefind/contacts.h"
#include "apps/namefind/vcard.h"
#include "foundation/safefile.h"
#include "lexicon/worddict.h"

namespace vlm {

namespace {

bool isFile(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// Anything at path (a folder at a file's name is there, and fails when read).
bool present(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0;
}

std::string lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return s;
}

int copyPair(const std::string& folder, std::string* error) {
  SafeFileSet set;
  for (const char* ext : {".tsv", ".voc"}) {
    std::string text;
    if (readFileText(folder + "/command" + ext, &text) != 1) {
      *error = "cannot read " + folder + "/command" + ext;
      return 0;
    }
    SafeFile* out = set.add((folder + "/cmddef" + ext).c_str());
    if (!out || !out->write(text.data(), text.size())) {
      *error = out ? out->reason() : set.reason();
      return 0;
    }
  }
  if (!set.commit()) {
    *error = set.reason();
    return 0;
  }
  return 1;
}

// Room for a command vocabulary (its lines) and some to spare.
int vocRoom(const std::string& path) { return countFileLines(path.c_str()) + 64; }

}  // namespace

int spliceCommands(const std::string& folder, const std::string& userName, std::string* error) {
  const std::string defTsv = folder + "/cmddef.tsv", defVoc = folder + "/cmddef.voc";
  if (!isFile(defTsv) || !isFile(defVoc)) {
    if (!copyPair(folder, error)) return 0;
  }
  const std::string userTsv = folder + "/" + userName + ".tsv", userVoc = folder + "/" + userName + ".voc";

  TsvStore defaults(eKindCommand), user(eKindCommand);
  if (!defaults.load(defTsv)) {
    *error = "cannot read " + defTsv;
    return 0;
  }
  if (present(userTsv) && (!isFile(userTsv) || !user.load(userTsv))) {
    *error = "cannot read " + userTsv;
    return 0;
  }
  TsvStore merged(eKindCommand);
  std::set<std::string> keys;
  for (const Entry& e : user.entries) {
    if (!e.active) continue;
    merged.addRow(user.rows[e.row]);
    keys.insert(lower(e.first) + "\t" + lower(e.second));
  }
  for (const Entry& e : defaults.entries)
    if (e.active && !keys.count(lower(e.first) + "\t" + lower(e.second))) merged.addRow(defaults.rows[e.row]);
  merged.sortEntries();

  WordDictionary words(vocRoom(defVoc) + (present(userVoc) ? vocRoom(userVoc) : 0));
  if (present(userVoc) && (!isFile(userVoc) || !words.readFile(userVoc.c_str()))) {
    *error = "cannot read " + userVoc;
    return 0;
  }
  std::set<std::string> userWords;
  for (int i = 2; i < words.recordCount(); i++)
    if (const char* name = words.nameOf(i)) userWords.insert(name);
  WordDictionary defaultWords(vocRoom(defVoc));
  if (!defaultWords.readFile(defVoc.c_str())) {
    *error = "cannot read " + defVoc;
    return 0;
  }
  for (int i = 2; i < defaultWords.recordCount(); i++) {
    const WordData* w = defaultWords.wordAt(i);
    if (!w || !w->name || !w->pron || userWords.count(w->name)) continue;
    words.addWordIfNew(w->name, w->pron, w->wordClass);
  }

  SafeFileSet set;
  const std::string text = merged.saveText();
  SafeFile* tsv = set.add((folder + "/command.tsv").c_str());
  if (!tsv || !tsv->write(text.data(), text.size())) {
    *error = tsv ? tsv->reason() : set.reason();
    return 0;
  }
  SafeFile* voc = set.add((folder + "/command.voc").c_str());
  if (!voc) {
    *error = set.reason();
    return 0;
  }
  if (!words.writeFd(voc->handle())) voc->noteWriteFailure(errno);
  if (!set.commit()) {
    *error = set.reason();
    return 0;
  }
  return 1;
}

std::string contactNameList(const std::string& dataDir) {
  std::vector<TsvStore> stores;
  const std::string vcf = dataDir + "/contacts.vcf";
  if (isFile(vcf)) {
    stores.emplace_back(eKindContact);
    VCardFile cards;
    cards.load(vcf, &stores.back());
  }
  std::vector<std::string> tsvFiles;
  if (DIR* dir = opendir(dataDir.c_str())) {
    while (dirent* e = readdir(dir)) {
      const std::string name = e->d_name;
      if (name.size() > 4 && strcasecmp(name.c_str() + name.size() - 4, ".tsv") == 0 &&
          strcasecmp(name.c_str(), "command.tsv") != 0 && isFile(dataDir + "/" + name))
        tsvFiles.push_back(name);
    }
    closedir(dir);
  }
  std::sort(tsvFiles.begin(), tsvFiles.end());
  for (const std::string& name : tsvFiles) {
    stores.emplace_back(eKindContact);
    stores.back().load(dataDir + "/" + name);
  }
  std::string list;
  std::set<std::string> seen;
  for (const TsvStore& store : stores)
    for (const Entry& e : store.entries)
      for (const std::string* text : {&e.first, &e.second, &e.third}) {
        if (text->empty() || text->find_first_of("\r\n") != std::string::npos || !seen.insert(*text).second) continue;
        list += *text + "\n";
      }
  return list;
}

}  // namespace vlm
