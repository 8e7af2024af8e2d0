// The command-list merger behind `splicer NAME` (run by the installer on the PC): the user's own
// command list NAME.tsv / NAME.voc (copied off the device) is merged into the new command.tsv /
// command.voc of the PC folder. The user's entries and pronunciations are kept; default entries
// the user lacks are added; an entry in both (the same start and end word, compared without
// regard to case) keeps the user's version, and a word in both keeps the user's pronunciations.
//
// The defaults are kept apart: the first run saves the folder's command.tsv / command.voc as
// cmddef.tsv / cmddef.voc, and every run merges from those, so that one user's commands never
// become the defaults of the next device installed from the same folder. Without NAME.tsv (a
// device without commands) the result is the defaults. Both outputs are replaced together
// (SafeFileSet): all or nothing.
#pragma once
#include <string>

namespace vlm {

// 1, or 0 with *error (the outputs then stay as they were).
int spliceCommands(const std::string& folder, const std::string& userName, std::string* error);

// The lines of the contact lister's word list: each contact's first name, last name and company
// (the words namefind speaks a contact by), every distinct text once, in the order met. Contacts
// come from contacts.vcf and every .tsv contact file (not command.tsv) of dataDir.
std::string contactNameList(const std::string& dataDir);

}  // namespace vlm
