// Options and Dialing Defaults.
#include "apps/namefind/options.h"

#include <fcntl.h>
#include <unistd.h>

#include "apps/namefind/config.h"
#include "foundation/filepath.h"
#include "platform/msgbox.h"

namespace vlm {

namespace {

bool opensForReading(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  close(fd);
  return true;
}

// The plain files of the data directory that match pattern, in name order.
std::vector<std::string> filesMatching(const std::string& dir, const char* pattern) {
  std::vector<std::string> names;
  FindFilePath find(pattern, dir.c_str(), FindFilePath::eFindFiles);
  for (int more = find.findFirst(); more; more = find.findNext())
    if (!find.isDirectory()) names.push_back(find.name());
  return names;
}

int indexOfName(const std::vector<std::string>& names, const std::string& path) {
  if (path.empty()) return -1;
  const std::string name = baseName(path);
  for (size_t i = 0; i < names.size(); i++)
    if (sameName(names[i], name)) return static_cast<int>(i);
  return -1;
}

}  // namespace

bool OptionsLogic::init() {
  userFiles.clear();
  for (const std::string& name : filesMatching(st->dataDir, "*.usr"))
    if (!sameName(name, "delta.usr") && !sameName(name, "newuser.usr")) userFiles.push_back(name);
  userSelected = indexOfName(userFiles, st->userFilePath);
  if (userSelected < 0 && !userFiles.empty()) userSelected = 0;

  contactFiles.clear();
  for (const std::string& name : filesMatching(st->dataDir, "*.tsv"))
    if (!sameName(name, "command.tsv")) contactFiles.push_back(name);
  contactsSelected = indexOfName(contactFiles, st->contactsFilePath);
  // "outlook.tsv" is always offered: choosing it imports the contacts.
  if (indexOfName(contactFiles, "outlook.tsv") < 0) contactFiles.push_back("outlook.tsv");
  if (contactsSelected < 0) contactsSelected = 0;
  selectionChanged = false;

  if (userFiles.empty()) {
    if (messageBox("No .usr files.\nYou must Enroll before\nusing Namefind.\nQuitting!  Run Enroll now?.",
                   "No Phonetic Models", eBoxYesNo, eIconQuestion, eAnswerYes) == eAnswerYes)
      st->startAfterExit = 2;
    return false;
  }
  if (st->firstStart)
    messageBox("Select your user file.\nAnd a contacts file.\nThen tap OK\nIf you're new to Namefind,\n"
               "play with demo.tsv first.\n(see namefind.pdf on PC)",
               "First time user?", eBoxOk, eIconInformation, eAnswerOk);
  return true;
}

void OptionsLogic::setIgnoreBadProns(bool on) {
  st->ignoreBadProns = on;
  st->configChanged = 1;
}

void OptionsLogic::setNoNag(bool on) {
  st->nagThreshold = on ? kNagOff : 1;
  st->uttsSinceNag = 0;
  st->configChanged = 1;
}

void OptionsLogic::setEcho(bool on) {
  st->echo = on;
  st->configChanged = 1;
}

void OptionsLogic::pickUser(int index) {
  if (index >= 0 && index < static_cast<int>(userFiles.size())) userSelected = index;
  selectionChanged = true;
}

void OptionsLogic::pickContacts(int index) {
  if (index >= 0 && index < static_cast<int>(contactFiles.size())) contactsSelected = index;
  selectionChanged = true;
}

bool OptionsLogic::applySelection() {
  if (userSelected < 0 || userSelected >= static_cast<int>(userFiles.size())) return false;
  if (contactsSelected < 0 || contactsSelected >= static_cast<int>(contactFiles.size())) return false;
  const std::string user = st->inDataDir(userFiles[userSelected]);
  if (!opensForReading(user)) return false;
  const std::string& contactsName = contactFiles[contactsSelected];
  const std::string contacts = st->inDataDir(contactsName);
  if (!sameName(contactsName, "outlook.tsv") && !opensForReading(contacts)) return false;
  if (!endsWithNoCase(contactsName, ".tsv")) return false;
  const std::string vocabulary = contacts.substr(0, contacts.size() - 4) + ".voc";
  if (!opensForReading(vocabulary)) return false;
  st->userFilePath = user;
  st->contactsFilePath = contacts;
  st->contactsVocPath = vocabulary;
  return true;
}

bool OptionsLogic::ok() {
  if (!applySelection()) {
    if (st->firstStart) unlink(st->inDataDir("namefind.cfg").c_str());
    return false;
  }
  st->configChanged = 1;
  // A first start always goes on in a fresh process with the chosen files, also when the lists
  // were left at the files they first showed.
  if (selectionChanged || st->firstStart) {
    st->startAfterExit = 1;
    st->showAdaptWarning = 1;
    st->showSayHint = 1;
  }
  return true;
}

bool OptionsLogic::enroll() {
  if (!applySelection()) st->configChanged = 0;
  st->startAfterExit = 2;
  return true;
}

// ---- Dialing Defaults -------------------------------------------------------------------------

const char* const DialingLogic::kLocalItems[3] = {"none", "1", "2"};
const char* const DialingLogic::kExplanation =
    "PruneThresh affects the speed of recognition.  With a low value, hypotheses that are fitting poorly are pruned "
    "sooner.  With too low a value, the 'right' answer may be discarded...  There is a speed vs accuracy tradeoff.  "
    "(default:240)";

void DialingLogic::init() {
  prefix1 = st->prefix1;
  prefix2 = st->prefix2;
  areaCode = st->localAreaCode;
  pruneText = std::to_string(st->pruneThreshold);
  alarmText = st->alarmMinutes < 1 ? "none" : std::to_string(st->alarmMinutes) + " min";
  longDistance = st->longDistanceChoice >= 0 && st->longDistanceChoice <= 2 ? st->longDistanceChoice : 0;
  localItem = st->localAreaChoice >= 0 && st->localAreaChoice <= 2 ? st->localAreaChoice : 0;
  fillServices();
}

void DialingLogic::fillServices() {
  services.clear();
  if (!st->mailServiceName.empty() && !sameName(st->mailServiceName, "ActiveSync")) services.push_back(st->mailServiceName);
  services.push_back("ActiveSync");
  services.push_back("add new service");
  serviceSelected = st->configuredServiceCurrent && services.size() == 3 ? 0 : static_cast<int>(services.size()) - 2;
}

void DialingLogic::tapRadio(int which) {
  if (which != 1 && which != 2) return;
  longDistance = longDistance == which ? 0 : which;
}

bool DialingLogic::ok() {
  auto upTo15 = [](const std::string& s) { return s.size() > 15 ? s.substr(0, 15) : s; };
  st->prefix1 = upTo15(prefix1);
  st->prefix2 = upTo15(prefix2);
  st->localAreaCode = upTo15(areaCode);
  bool digits = false;
  const int prune = leadingNumber(pruneText, &digits);
  if (digits) applyPruneThreshold(st, prune);
  const int alarm = leadingNumber(alarmText, &digits);
  st->alarmMinutes = !digits || alarm >= 601 ? -1 : alarm;
  const std::string local = localItem >= 0 && localItem <= 2 ? kLocalItems[localItem] : "none";
  st->localAreaChoice = local[0] == 'n' ? 0 : local[0] - '0';
  st->longDistanceChoice = longDistance;
  if (serviceSelected >= 0 && serviceSelected < static_cast<int>(services.size())) {
    const std::string& service = services[serviceSelected];
    if (service == "ActiveSync") st->configuredServiceCurrent = false;
    else if (service != "add new service") st->configuredServiceCurrent = true;
  }
  st->configChanged = 1;
  return true;
}

}  // namespace vlm
