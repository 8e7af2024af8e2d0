// The logic of the "Options" and "Dialing Defaults" dialogs; the dialogs show its fields and
// forward each tap here.
#pragma once
#include <string>
#include <vector>

#include "apps/namefind/state.h"

namespace vlm {

class OptionsLogic {
 public:
  explicit OptionsLogic(NamefindState* state) : st(state) {}

  // Fills the check boxes and the two file lists from the state and the data directory. Returns
  // false when the dialog is to close at once: there is no user file (after the "No Phonetic
  // Models" question). On a first start shows "First time user?".
  bool init();

  bool ignoreBadProns() const { return st->ignoreBadProns != 0; }
  bool noNag() const { return st->nagThreshold >= kNagOff; }
  bool echo() const { return st->echo != 0; }
  // The check boxes write their field at once and mark the configuration changed.
  void setIgnoreBadProns(bool on);
  void setNoNag(bool on);
  void setEcho(bool on);

  std::vector<std::string> userFiles;
  std::vector<std::string> contactFiles;
  int userSelected = -1;
  int contactsSelected = -1;
  bool selectionChanged = false;
  // A drop-down list closed with item index chosen.
  void pickUser(int index);
  void pickContacts(int index);

  // "ok" and Done: true when the dialog closes. "enroll": always closes. "cancel": closes.
  bool ok();
  bool enroll();
  // Checks the chosen files and stores their paths; false (nothing stored) when one is unusable.
  bool applySelection();

 private:
  NamefindState* st;
};

class DialingLogic {
 public:
  DialingLogic(NamefindState* state, bool phoneEdition) : st(state), phone(phoneEdition) {}

  // Fills the texts, the radio choice, the local-area item and the service list from the state.
  void init();
  // The service list alone (again after "Spy on Outlook" found a service).
  void fillServices();
  // Tapping radio button 1 or 2 ("Dialing Prefix1:" / "Dialing Prefix2:"): the one already on
  // turns the choice off.
  void tapRadio(int which);
  // "ok": takes the texts and choices into the state. Closes (returns true) always.
  bool ok();
  bool phoneEdition() const { return phone; }

  std::string prefix1, prefix2, areaCode, pruneText, alarmText;
  int longDistance = 0;              // radio buttons: 0 none, 1, 2
  int localItem = 0;                 // "none", "1", "2"
  std::vector<std::string> services; // [configured], "ActiveSync", "add new service"
  int serviceSelected = 0;

  static const char* const kLocalItems[3];
  static const char* const kExplanation;

 private:
  NamefindState* st;
  bool phone;
};

}  // namespace vlm
