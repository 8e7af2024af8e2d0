// The application state of namefind: one set of program-wide settings and flags, owned by the
// shell and read by the command, contacts, training and action code.
#pragma once
#include <string>

namespace vlm {

// Dialog and control identifiers (the handheld's resource numbers; other instances and the
// transcript know the controls by them).
enum NamefindIds {
  kIdMainDialog = 105,
  kIdOptionsDialog = 109,
  kIdDialingDialog = 112,
  kIdDetails = 1250,
  kIdPhrases = 1025,
  kIdChoices = 1018,
  kIdLevel = 1021,
  kIdTrain = 1014,
  kIdMic = 1020,
  kIdFind = 1024,
  kIdSaveUser = 1292,
  kIdOptions = 1291,
  kIdNewEntry = 1026,
  kIdEditEntry = 1027,
  kIdDelEntry = 1028,
  kIdPronunciation = 1293,
  kTimerMic = 104,
};

// Private messages (fixed values: one instance sends them to another).
enum NamefindMessages { kMsgNamefindActivate = 2026, kMsgNamefindStart = 2027, kMsgNag = 2029, kMsgPlayPron = 2030 };

constexpr int kDefaultPruneThreshold = 240;
constexpr int kNagOff = 10000;
constexpr int kMaxNameChars = 127;    // file names and mail service texts in namefind.cfg
constexpr int kMaxPrefixChars = 15;   // dialling prefixes and the area code

struct NamefindState {
  std::string dataDir;   // the data directory with a trailing "/"

  std::string userFilePath;
  std::string contactsFilePath;
  std::string contactsVocPath;
  std::string loadedContactsPath;
  std::string loadedVocPath;

  int nagThreshold = 1;   // 1 nag, kNagOff "Don't nag about More Training"
  int echo = 1;
  std::string prefix1 = "1";
  std::string prefix2 = "011";
  std::string localAreaCode;
  int longDistanceChoice = 0;   // 0 none, 1 prefix 1, 2 prefix 2
  int localAreaChoice = 0;
  int dialMode = 0;             // 0 tones, 1 voice, 2 cell
  int pruneThreshold = kDefaultPruneThreshold;
  int alarmMinutes = -1;        // -1 none, else 0..600
  std::string mailServiceName;  // the configured service (never "ActiveSync")
  std::string mailServiceId;
  bool configuredServiceCurrent = false;   // false: mail goes through "ActiveSync"

  int ignoreBadProns = 0;
  int showAdaptWarning = 0;
  int showSayHint = 0;
  int configChanged = 0;
  int modelsAdapted = 0;
  int contactsChanged = 0;
  int firstStart = 0;
  int startAfterExit = 0;       // 1 namefind again, 2 enroll
  int uttsSinceNag = 0;
  int micBlocked = 0;
  int softKeyboardShown = 0;

  // dataDir + name.
  std::string inDataDir(const std::string& name) const { return dataDir + name; }
  // The name of the current mail service.
  const char* currentServiceName() const {
    return configuredServiceCurrent && !mailServiceName.empty() ? mailServiceName.c_str() : "ActiveSync";
  }
};

// The part of a path after its last "/".
std::string baseName(const std::string& path);
// Case-insensitive comparison of two 8-bit names.
bool sameName(const std::string& a, const std::string& b);
// True when name ends in suffix, without regard to case.
bool endsWithNoCase(const std::string& name, const char* suffix);

}  // namespace vlm
