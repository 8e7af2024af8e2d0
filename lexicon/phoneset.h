// The phone set: the 48 phone symbols of pronunciation strings, the numbering of the
// context-dependent phone models (pels) and their printed names, the validity rule of
// pronunciation strings and the readable letter form shown to users.
//
// A pronunciation is a NUL-terminated 8-bit string with one character per phone; "." is silence.
// Each phone owns 1, 2 or 3 groups of 13 pels; pel ids run from 0 to 1377 in inventory order.
// The speaker model class forwards its static isValidPron/pelIdToName to the functions here.
#pragma once

namespace vlm {

constexpr int kPhoneCount = 48;
constexpr int kPelsPerGroup = 13;
constexpr int kPelGroupCount = 106;
constexpr int kPelCount = kPelGroupCount * kPelsPerGroup;  // 1378
constexpr int kContextClassCount = 13;
constexpr char kSilencePhone = '.';

// ".Eew@lnrsjbpkKAaYci:Oo0Uu8?LmMN~PRzSCZt+TDdvfghy": the inventory in pel order (NUL-terminated).
extern const char kPhoneInventory[kPhoneCount + 1];
// ".Eew@lnrsjbpk": the 13 context-class phones (NUL-terminated).
extern const char kContextClasses[kContextClassCount + 1];
// Per byte value: the phone's number of pel groups, 0 for a byte that is not a phone.
extern const unsigned char kPhoneGroupCount[256];
// Per byte value: the phone's first pel id, -1 for a byte that is not a phone.
extern const short kPhoneFirstPel[256];
// Per group number (pel id / 13): the phone that owns the group (NUL-terminated).
extern const char kGroupPhone[kPelGroupCount + 1];

// 1 when c is one of the 48 phone symbols.
inline int isPhone(int c) { return kPhoneGroupCount[static_cast<unsigned char>(c)] != 0; }
// The phone's position in the inventory (0..47), or -1.
int phoneIndex(int c);

// The context class (0..12; 0 is silence) of a phone seen as the left neighbour of the next
// phone and as the right neighbour of the phone before it; -1 for a byte that is not a phone.
// The 13 classes are named by the phones ".Eew@lnrsjbpk"; every other phone takes the class of
// the representative it resembles most at the side that touches its neighbour.
int phoneLeftClass(int phone);
int phoneRightClass(int phone);
// The number of states of a phone (its pel groups: 1, 2 or 3), 0 for a non-phone, and its base pel.
inline int phoneStateCount(int phone) { return kPhoneGroupCount[static_cast<unsigned char>(phone)]; }
inline int phoneBasePel(int phone) { return kPhoneFirstPel[static_cast<unsigned char>(phone)]; }

// 1 when pron is non-empty, made of phones only, and neither begins nor ends with silence.
int isValidPron(const char* pron);

// The three-character name of a pel ("EE." for 26): written into name (room 4) and returned.
// An id outside 0..1377 gives "???".
char* pelIdToName(int pelId, char name[4]);
// The same in a buffer of this module that the next call overwrites (diagnostics).
const char* pelIdToName(int pelId);

// The readable letter form of a pronunciation ("SiT" -> "SHiTH", "oE" -> "I"); at most room - 1
// characters and a NUL are written. Returns the end (the NUL). room < 1 writes nothing.
char* pronToReadable(const char* pron, char* out, int room);
// Reads the letter form back into phone codes ("SHiTH" -> "SiT", "I" -> "oE"), left to right.
// At most room - 1 characters and a NUL. Returns the end.
char* readableToPron(const char* text, char* out, int room);

}  // namespace vlm
