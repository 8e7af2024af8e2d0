// The contacts and the command list of namefind: rows of (field, value) pairs read from and
// written to the .tsv format, the entries through which the grammar reaches them, the details
// view of a row, the find lists, and the rewriting of a store's vocabulary. No toolkit code.
#pragma once
#include <string>
#include <utility>
#include <vector>

namespace vlm {

class WordDictionary;

// What an entry does (the kind of a command group as well).
enum EntryKind {
  eKindContact = -2,
  eKindCommand = -3,
  eKindPhone = -4,
  eKindSendMail = -5,
  eKindVoiceMail = -6,
  eKindEcho = -7,
  eKindAppointment = -8,
  eKindTimeDate = -9,
};

// Flags of a column: the low four bits are the layout in the details view.
enum ColumnFlags {
  eLayoutLine = 0,        // a line of its own
  eLayoutJoin = 1,        // joined to the line being built
  eLayoutJoinEnd = 2,     // joined, and the line ends
  eLayoutText = 3,        // a text of several lines
  COLUMN_LAYOUT_MASK = 0xF,
  COLUMN_DIALABLE = 0x10,
  COLUMN_ADDRESS = 0x20,  // e-mail or web
  COLUMN_PATH = 0x40,
  COLUMN_WINDOW = 0x50,
};

struct ColumnInfo {
  const char* name;
  const char* label;
  int flags;
};

// The columns of the .tsv format, by index.
enum TsvColumn {
  eColFirstName = 0,
  eColLastName = 1,
  eColNickName = 2,
  eColPager = 13,
  eColCompanyName = 26,
  eColNotes = 42,
  eColStartWord = 50,
  eColEndWord = 51,
  eColPath = 52,
  eColClassName = 53,
};
constexpr int kTsvColumnCount = 58;
extern const ColumnInfo kTsvColumns[kTsvColumnCount];
// The column a header name stands for: the own column names first, then the desktop export's
// names; -1 for a name the format ignores or does not know.
int tsvColumnIndex(const std::string& name);

// One row: values sorted by field index, at most one per field, never empty.
struct Row {
  std::vector<std::pair<int, std::string>> fields;

  // The value of a field, or null when the row has none.
  const std::string* get(int field) const;
  // Sets (or, with an empty value, removes) a field's value.
  void set(int field, const std::string& value);
  std::string text(int field) const { const std::string* v = get(field); return v ? *v : std::string(); }
};

// The recognisable handle on a row or a built-in target.
struct Entry {
  std::string first;    // first name, start word, or a built-in entry's label
  std::string second;   // last name, end word, or a built-in entry's spoken word
  std::string third;    // company name
  std::string fourth;
  int active = 1;       // 0: deleted (kept in the grammar until exit, never matched or saved)
  int kind = 0;
  int row = -1;         // row index in its store; -1 for built-in entries
};

// A store of rows and entries read from a .tsv file. Entries are never removed while the program
// runs (the grammar points at them by index); deleting clears their active flag.
class TsvStore {
 public:
  explicit TsvStore(int kind = eKindContact) : storeKind(kind) {}

  // Reads the file: 1 when it was read, 0 when it cannot be opened (the store is then empty).
  int load(const std::string& path);
  // The same from text in memory.
  void loadText(const std::string& text);
  // The file text of the active entries' rows (header of the used columns, rows in entry order).
  std::string saveText() const;
  // Writes saveText into a temporary file beside path, syncs it and renames it over path. 0 on
  // any failure: the temporary file is removed and path keeps what it held.
  int save(const std::string& path) const;

  // Orders the entries for saving without regard to case: contacts by last, then first name;
  // the command list by start word, then end word. Only at exit: the grammar refers to entries
  // by their position.
  void sortEntries();

  // A new row and its entry (texts read from the row); the entry's index.
  int addRow(const Row& row);
  // Replaces a row's values and refreshes its entry's texts from them.
  void setRow(int rowIndex, const Row& row);
  // The entry's texts as the row gives them.
  void entryTexts(int rowIndex, Entry* entry) const;

  // Deleting and undeleting an entry (by index); 0 for an index out of range.
  int remove(int entryIndex);
  int undelete(int entryIndex);

  const std::string* fieldText(int rowIndex, int field) const;
  int kind() const { return storeKind; }

  std::vector<Row> rows;
  std::vector<Entry> entries;
  int duplicateColumnValues = 0;   // values of a repeated header column that were dropped (logged)

 private:
  int storeKind;
};

// The name an entry is shown by: first and last name, else the company.
std::string entryName(const Entry& entry);
// The details view of a row: the name, then its fields laid out by their flags.
std::vector<std::string> detailLines(const Entry& entry, const Row* row);
// The number after "LABEL:" in the details lines, or "" when no line begins so.
std::string detailValue(const std::vector<std::string>& lines, const std::string& label);

// Without regard to case (A-Z folded to a-z, then byte values).
int compareNoCase(const std::string& a, const std::string& b);

// The find dialog's lists: entry indices sorted by a key, searched by binary search for the run
// of entries whose key starts with a text (without regard to case).
class FindLists {
 public:
  // field: -1 "anyName" (first-name and last-name lists), else a column of the store.
  void build(const TsvStore& store, int field);
  // The lines to show and the entry of each, for text (empty text: every entry).
  void find(const std::string& text, std::vector<std::string>* lines, std::vector<int>* entries) const;

 private:
  struct Key {
    std::string key;     // what the text is compared with
    std::string shown;
    int entry;
  };
  static void sortKeys(std::vector<Key>* keys);
  static void findIn(const std::vector<Key>& keys, const std::string& text, std::vector<std::string>* lines,
                     std::vector<int>* entries);
  std::vector<Key> byFirst, byLast, byField;
  int field = -1;
};

// Rewrites a store's vocabulary: every pronunciation (not marked not-saved) of the words of the
// active entries' texts, with its class, written through a temporary file and renamed over path.
// 1 when written; 0 leaves path as it was.
int rewriteVocabulary(WordDictionary* words, const TsvStore& store, const std::string& path);

// Replaces path with text through a temporary file beside it (see foundation/safefile.h); 1, or 0
// with the previous file left whole.
int replaceFileText(const std::string& path, const std::string& text);
// Reads a whole regular file (a FIFO or device is refused at once, never waited on): 1, -1 when a
// read failed part way (the text so far is kept, and the failure logged), 0 when it cannot be opened.
int readFileText(const std::string& path, std::string* text);

}  // namespace vlm
