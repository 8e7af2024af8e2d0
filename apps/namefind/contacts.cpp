#define VLM_UNIT "contacts"
// The .tsv stores of namefind: reading, writing, entries, details, find lists, vocabulary.
#include "apps/namefind/contacts.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "foundation/log.h"
#include "foundation/safefile.h"
#include "lexicon/worddict.h"
#include "lexicon/xlate.h"

namespace vlm {

const ColumnInfo kTsvColumns[kTsvColumnCount] = {
    {"firstName", "", 0x1},           {"lastName", "", 0x2},          {"nickName", "", 0x4},
    {"homeTel", "h: ", 0x11},         {"hTelExt", "x", 0x12},         {"homeTel2", "h2: ", 0x10},
    {"homeFax", "hFax: ", 0x10},      {"workTel", "w: ", 0x11},       {"wTelExt", "x", 0x12},
    {"workTel2", "w2: ", 0x11},       {"wTelExt2", "x", 0x12},        {"workFax", "wFax: ", 0x10},
    {"cellTel", "cell: ", 0x10},      {"pager", "pager: ", 0x10},     {"pagerExt", "x", 0x10},
    {"carTel", "car: ", 0x10},        {"radioTel", "radio: ", 0x10},  {"email1", "e: ", 0x20},
    {"email2", "e: ", 0x20},          {"homeStreet", "", 0x0},        {"homeCity", "", 0x1},
    {"homeState", "", 0x1},           {"homeZip", "", 0x1},           {"homeCountry", "", 0x2},
    {"webSite1", "website: ", 0x20},  {"jobTitle", "", 0x0},          {"companyName", "", 0x0},
    {"division", "", 0x0},            {"workStreet", "", 0x0},        {"workCity", "", 0x1},
    {"workState", "", 0x1},           {"workZip", "", 0x1},           {"workCountry", "", 0x2},
    {"webSite2", "website: ", 0x20},  {"otherStreet", "", 0x0},       {"otherCity", "", 0x1},
    {"otherState", "", 0x1},          {"otherZip", "", 0x1},          {"otherCountry", "", 0x2},
    {"webSite3", "website: ", 0x20},  {"birthday", "birthday: ", 0x0}, {"children", "kids: ", 0x0},
    {"notes", "notes: ", 0x3},        {"category", "", 0x0},          {"custom1", "", 0x0},
    {"custom2", "", 0x0},             {"custom3", "", 0x0},           {"custom4", "", 0x0},
    {"custom5", "", 0x0},             {"custom6", "", 0x0},           {"startWord", "", 0x1},
    {"endWord", "", 0x2},             {"path", "", 0x40},             {"className", "winClass: ", 0x50},
    {"titleBar", "title: ", 0x50},    {"wmMsg", "wmMsg: ", 0x0},      {"wParam", "wParam: ", 0x0},
    {"lParam", "lParam: ", 0x0},
};

namespace {

struct ExportName {
  const char* name;
  int column;
};

// The column names of a desktop address-book export. The export writes some names in double
// quotes; they are matched with the quotes.
const ExportName kExportNames[] = {
    {"First Name", 0},          {"Last Name", 1},            {"Middle Name", 2},
    {"Job Title", 25},          {"Company", 26},             {"Department", 27},
    {"Business Street", 28},    {"Business City", 29},       {"Business State", 30},
    {"Business Postal Code", 31}, {"Business Country", 32},  {"Home Street", 19},
    {"Home City", 20},          {"Home State", 21},          {"Home Postal Code", 22},
    {"Home Country", 23},       {"Other Street", 34},        {"Other City", 35},
    {"Other State", 36},        {"Other Postal Code", 37},   {"Other Country", 38},
    {"Business Fax", 11},       {"Business Phone", 7},       {"\"Business Phone 2\"", 9},
    {"Car Phone", 15},          {"Home Fax", 6},             {"Home Phone", 3},
    {"\"Home Phone 2\"", 5},    {"Mobile Phone", 12},        {"Pager", 13},
    {"Radio Phone", 16},        {"Anniversary", 49},         {"Birthday", 40},
    {"Categories", 43},         {"Children", 41},            {"E-mail Address", 17},
    {"E-mail 2 Address", 18},   {"E-mail 3 Address", 48},    {"Notes", 42},
    {"\"User 1\"", 44},         {"\"User 2\"", 45},          {"\"User 3\"", 46},
    {"\"User 4\"", 47},         {"Web Page", 24},
    {"Title", -1},              {"Suffix", -1},              {"\"Business Street 2\"", -1},
    {"\"Business Street 3\"", -1}, {"\"Home Street 2\"", -1}, {"\"Home Street 3\"", -1},
    {"\"Other Street 2\"", -1}, {"\"Other Street 3\"", -1},  {"Assistant's Phone", -1},
    {"Callback", -1},           {"Company Main Phone", -1},  {"ISDN", -1},
    {"Other Fax", -1},          {"Other Phone", -1},         {"Primary Phone", -1},
    {"TTY/TDD Phone", -1},      {"Telex", -1},               {"Account", -1},
    {"Assistant's Name", -1},   {"Billing Information", -1}, {"Directory Server", -1},
    {"E-mail Display Name", -1}, {"E-mail 2 Display Name", -1}, {"E-mail 3 Display Name", -1},
    {"Gender", -1},             {"Government ID Number", -1}, {"Hobby", -1},
    {"Initials", -1},           {"Internet Free Busy", -1},  {"Keywords", -1},
    {"Language", -1},           {"Location", -1},            {"Manager's Name", -1},
    {"Mileage", -1},            {"Office Location", -1},     {"Organizational ID Number", -1},
    {"PO Box", -1},             {"Priority", -1},            {"Private", -1},
    {"Profession", -1},         {"Referred By", -1},         {"Sensitivity", -1},
    {"Spouse", -1},
};
static_assert(sizeof kExportNames / sizeof kExportNames[0] == 87, "44 mapped and 43 ignored names");

int foldByte(unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; }

// A value as the file holds it: the two characters "\n" stand for a line break and "\t" for a
// tab (the format has no other way to keep them inside a value).
std::string decodeValue(const std::string& raw) {
  std::string v;
  v.reserve(raw.size());
  for (size_t i = 0; i < raw.size(); i++) {
    if (raw[i] == '\\' && i + 1 < raw.size() && (raw[i + 1] == 'n' || raw[i + 1] == 't')) {
      v += raw[i + 1] == 'n' ? '\n' : '\t';
      i++;
    } else {
      v += raw[i];
    }
  }
  return v;
}

std::string encodeValue(const std::string& value) {
  std::string out;
  out.reserve(value.size());
  for (size_t i = 0; i < value.size(); i++) {
    const char c = value[i];
    if (c == '\r') {
      out += "\\n";
      if (i + 1 < value.size() && value[i + 1] == '\n') i++;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else {
      out += c;
    }
  }
  return out;
}

bool isLineEnd(char c) { return c == '\n' || c == '\r'; }

}  // namespace

int tsvColumnIndex(const std::string& name) {
  for (int i = 0; i < kTsvColumnCount; i++)
    if (name == kTsvColumns[i].name) return i;
  for (const ExportName& e : kExportNames)
    if (name == e.name) return e.column;
  return -1;
}

int compareNoCase(const std::string& a, const std::string& b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; i++) {
    const int d = foldByte(static_cast<unsigned char>(a[i])) - foldByte(static_cast<unsigned char>(b[i]));
    if (d != 0) return d;
  }
  return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

const std::string* Row::get(int field) const {
  for (const auto& f : fields)
    if (f.first == field) return &f.second;
  return nullptr;
}

void Row::set(int field, const std::string& value) {
  auto it = std::lower_bound(fields.begin(), fields.end(), field,
                             [](const std::pair<int, std::string>& f, int k) { return f.first < k; });
  if (it != fields.end() && it->first == field) {
    if (value.empty()) fields.erase(it);
    else it->second = value;
  } else if (!value.empty()) {
    fields.insert(it, {field, value});
  }
}

// ---- reading ---------------------------------------------------------------------------------

int readFileText(const std::string& path, std::string* text) {
  text->clear();
  const int fd = openRegularFile(path.c_str());
  if (fd < 0) return 0;
  char buffer[65536];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0) text->append(buffer, static_cast<size_t>(n));
  close(fd);
  if (n < 0) logError("can't read file: ", path.c_str());
  return n < 0 ? -1 : 1;
}

int TsvStore::load(const std::string& path) {
  std::string text;
  const int read = readFileText(path, &text);
  if (read == 0) {
    rows.clear();
    entries.clear();
    return 0;
  }
  loadText(text);
  return 1;
}

void TsvStore::loadText(const std::string& text) {
  rows.clear();
  entries.clear();
  duplicateColumnValues = 0;
  std::vector<int> columns;
  bool haveHeader = false;
  size_t pos = 0;
  while (pos < text.size()) {
    // Leading blanks, CR and LF are skipped; the line runs to the next CR or LF. Lines are
    // taken whole, whatever their length: a cut line would lose the rest of its row at the next
    // save.
    while (pos < text.size() && (text[pos] == ' ' || isLineEnd(text[pos]))) pos++;
    if (pos >= text.size()) break;
    size_t end = pos;
    while (end < text.size() && !isLineEnd(text[end])) end++;
    const std::string line = text.substr(pos, end - pos);
    pos = end;

    std::vector<std::string> values;
    size_t start = 0;
    for (;;) {
      const size_t tab = line.find('\t', start);
      values.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
      if (tab == std::string::npos) break;
      start = tab + 1;
    }
    if (!values.empty() && values.back().empty()) values.pop_back();   // a trailing tab adds no value

    if (!haveHeader) {
      haveHeader = true;
      for (const std::string& name : values) columns.push_back(tsvColumnIndex(name));
      continue;
    }
    Row row;
    // Values beyond the header's columns, empty values and those of ignored columns are dropped.
    for (size_t i = 0; i < values.size() && i < columns.size(); i++) {
      // Leading blanks of a value are dropped like those of a line: a value that comes first on
      // a written line would lose them at the next read anyway.
      const size_t lead = values[i].find_first_not_of(' ');
      if (lead == std::string::npos || columns[i] < 0) continue;
      if (lead > 0) values[i].erase(0, lead);
      if (row.get(columns[i]) != nullptr) {
        duplicateColumnValues++;   // a column named twice in the header: the first value counts
        continue;
      }
      row.set(columns[i], decodeValue(values[i]));
    }
    if (row.fields.empty()) continue;
    addRow(row);
  }
  if (duplicateColumnValues > 0) logError("tsv: values of a repeated column were dropped");
}

void TsvStore::entryTexts(int rowIndex, Entry* e) const {
  const Row& r = rows[static_cast<size_t>(rowIndex)];
  if (storeKind == eKindCommand) {
    e->first = r.text(eColStartWord);
    e->second = r.text(eColEndWord);
    e->third.clear();
  } else {
    e->first = r.text(eColFirstName);
    e->second = r.text(eColLastName);
    e->third = r.text(eColCompanyName);
  }
}

int TsvStore::addRow(const Row& row) {
  rows.push_back(row);
  Entry e;
  e.kind = storeKind;
  e.row = static_cast<int>(rows.size()) - 1;
  e.active = 1;
  entryTexts(e.row, &e);
  entries.push_back(e);
  return static_cast<int>(entries.size()) - 1;
}

void TsvStore::setRow(int rowIndex, const Row& row) {
  if (rowIndex < 0 || rowIndex >= static_cast<int>(rows.size())) return;
  rows[static_cast<size_t>(rowIndex)] = row;
  for (Entry& e : entries)
    if (e.row == rowIndex) entryTexts(rowIndex, &e);
}

int TsvStore::remove(int entryIndex) {
  if (entryIndex < 0 || entryIndex >= static_cast<int>(entries.size())) return 0;
  entries[static_cast<size_t>(entryIndex)].active = 0;
  return 1;
}

int TsvStore::undelete(int entryIndex) {
  if (entryIndex < 0 || entryIndex >= static_cast<int>(entries.size())) return 0;
  entries[static_cast<size_t>(entryIndex)].active = 1;
  return 1;
}

const std::string* TsvStore::fieldText(int rowIndex, int field) const {
  if (rowIndex < 0 || rowIndex >= static_cast<int>(rows.size())) return nullptr;
  return rows[static_cast<size_t>(rowIndex)].get(field);
}

// ---- writing ---------------------------------------------------------------------------------

void TsvStore::sortEntries() {
  const bool contacts = storeKind != eKindCommand;
  std::stable_sort(entries.begin(), entries.end(), [contacts](const Entry& a, const Entry& b) {
    const int c = contacts ? compareNoCase(a.second, b.second) : compareNoCase(a.first, b.first);
    if (c != 0) return c < 0;
    return (contacts ? compareNoCase(a.first, b.first) : compareNoCase(a.second, b.second)) < 0;
  });
}

std::string TsvStore::saveText() const {
  bool used[kTsvColumnCount] = {};
  for (const Entry& e : entries) {
    if (!e.active || e.row < 0 || e.row >= static_cast<int>(rows.size())) continue;
    for (const auto& f : rows[static_cast<size_t>(e.row)].fields)
      if (f.first >= 0 && f.first < kTsvColumnCount) used[f.first] = true;
  }
  std::string out;
  for (int c = 0; c < kTsvColumnCount; c++)
    if (used[c]) out += std::string(kTsvColumns[c].name) + "\t";
  out += "\n";
  for (const Entry& e : entries) {
    if (!e.active || e.row < 0 || e.row >= static_cast<int>(rows.size())) continue;
    const Row& r = rows[static_cast<size_t>(e.row)];
    std::string line;
    int tabs = 0;   // tabs owed before the next value: one per used column passed
    bool first = true;
    for (int c = 0; c < kTsvColumnCount; c++) {
      if (!used[c]) continue;
      if (!first) tabs++;
      first = false;
      const std::string* v = r.get(c);
      if (v == nullptr) continue;
      line.append(static_cast<size_t>(tabs), '\t');
      tabs = 0;
      line += encodeValue(*v);
    }
    out += line + "\n";
  }
  return out;
}

// Replaces path with text through an exclusively created temporary file beside it: a failed
// write leaves the previous file whole.
int replaceFileText(const std::string& path, const std::string& text) {
  SafeFile out;
  if (!out.open(path.c_str(), 0644) || !out.write(text.data(), text.size()) || !out.commit()) {
    logError("can't save file: ", out.reason());
    return 0;
  }
  return 1;
}

int TsvStore::save(const std::string& path) const { return replaceFileText(path, saveText()); }

// ---- details ---------------------------------------------------------------------------------

namespace {

constexpr size_t kMaxDetailLine = 1023;

void emitLine(std::vector<std::string>* lines, std::string* line) {
  if (!line->empty()) lines->push_back(line->substr(0, kMaxDetailLine));
  line->clear();
}

}  // namespace

std::string entryName(const Entry& entry) {
  std::string name = entry.first;
  if (!entry.second.empty()) name += (name.empty() ? "" : " ") + entry.second;
  if (name.empty()) name = entry.third;
  return name;
}

std::vector<std::string> detailLines(const Entry& entry, const Row* row) {
  std::vector<std::string> lines;
  const std::string name = entryName(entry);
  if (!name.empty()) lines.push_back(name.substr(0, kMaxDetailLine));
  if (row == nullptr) return lines;
  // The columns that give the name line are not repeated (a contact with only a company is
  // named by it).
  const bool command = entry.kind == eKindCommand;
  const bool companyIsName = !command && entry.first.empty() && entry.second.empty();
  std::string line;
  for (const auto& f : row->fields) {
    const int c = f.first;
    if (c < 0 || c >= kTsvColumnCount) continue;
    if (command ? (c == eColStartWord || c == eColEndWord) : (c == eColFirstName || c == eColLastName)) continue;
    if (companyIsName && c == eColCompanyName) continue;
    const ColumnInfo& info = kTsvColumns[c];
    const std::string text = std::string(info.label) + f.second;
    // A labelled field ("w: ") begins a line of its own even when it joins the fields after it
    // (its extension): actions find a phone line by the label at its start.
    if (std::strchr(info.label, ':') != nullptr) emitLine(&lines, &line);
    switch (info.flags & COLUMN_LAYOUT_MASK) {
      case eLayoutJoin:
        line += (line.empty() ? "" : " ") + text;
        break;
      case eLayoutJoinEnd:
        line += (line.empty() ? "" : " ") + text;
        emitLine(&lines, &line);
        break;
      case eLayoutText: {
        emitLine(&lines, &line);
        size_t start = 0;
        for (;;) {
          const size_t nl = text.find('\n', start);
          std::string part = text.substr(start, nl == std::string::npos ? std::string::npos : nl - start);
          if (!part.empty() && part.back() == '\r') part.pop_back();
          emitLine(&lines, &part);
          if (nl == std::string::npos) break;
          start = nl + 1;
        }
        break;
      }
      default:   // a line of its own (also the nickname's layout 4)
        emitLine(&lines, &line);
        line = text;
        emitLine(&lines, &line);
        break;
    }
  }
  emitLine(&lines, &line);
  return lines;
}

std::string detailValue(const std::vector<std::string>& lines, const std::string& label) {
  const std::string head = label + ":";
  for (const std::string& l : lines) {
    if (l.compare(0, head.size(), head) != 0) continue;
    size_t p = head.size();
    while (p < l.size() && l[p] == ' ') p++;
    return l.substr(p);
  }
  return std::string();
}

// ---- find lists ------------------------------------------------------------------------------

void FindLists::sortKeys(std::vector<Key>* keys) {
  std::stable_sort(keys->begin(), keys->end(), [](const Key& a, const Key& b) { return compareNoCase(a.key, b.key) < 0; });
}

void FindLists::build(const TsvStore& store, int f) {
  field = f;
  byFirst.clear();
  byLast.clear();
  byField.clear();
  for (size_t i = 0; i < store.entries.size(); i++) {
    const Entry& e = store.entries[i];
    const int index = static_cast<int>(i);
    // Sorting by "first then last" is sorting a key of first, a separator below every
    // printable byte, and last.
    byFirst.push_back({e.first + '\x01' + e.second, e.first + " " + e.second, index});
    byLast.push_back({e.second + '\x01' + e.first, e.second + ", " + e.first, index});
    if (f >= 0) {
      const std::string* v = store.fieldText(e.row, f);
      if (v != nullptr) byField.push_back({*v + '\x01' + e.second + '\x01' + e.first, *v + " / " + e.first + " " + e.second, index});
    }
  }
  sortKeys(&byFirst);
  sortKeys(&byLast);
  sortKeys(&byField);
}

void FindLists::findIn(const std::vector<Key>& keys, const std::string& text, std::vector<std::string>* lines,
                       std::vector<int>* entries) {
  // The first key not below the text; every key that starts with the text follows it.
  size_t lo = 0, hi = keys.size();
  while (lo < hi) {
    const size_t mid = (lo + hi) / 2;
    if (compareNoCase(keys[mid].key.substr(0, text.size()), text) < 0) lo = mid + 1;
    else hi = mid;
  }
  for (size_t i = lo; i < keys.size() && compareNoCase(keys[i].key.substr(0, text.size()), text) == 0; i++) {
    lines->push_back(keys[i].shown);
    entries->push_back(keys[i].entry);
  }
}

void FindLists::find(const std::string& text, std::vector<std::string>* lines, std::vector<int>* entries) const {
  lines->clear();
  entries->clear();
  if (field == eColFirstName) {
    findIn(byFirst, text, lines, entries);
  } else if (field == eColLastName) {
    findIn(byLast, text, lines, entries);
  } else if (field >= 0) {
    findIn(byField, text, lines, entries);
  } else {
    findIn(byFirst, text, lines, entries);
    findIn(byLast, text, lines, entries);
  }
}

// ---- vocabulary ------------------------------------------------------------------------------

namespace {

// Adds the pronunciations of one dictionary word (by name) to the scratch dictionary.
void copyWord(WordDictionary* words, WordDictionary* scratch, const char* name) {
  const WordData* primary = words->getWordData(name);
  if (primary == nullptr || primary->index < 2) return;
  bool any = false;
  for (int i = primary->index; i >= 0;) {
    const WordData* w = words->wordAt(i);
    if (w == nullptr) break;
    if (w->pron && !(w->flag & WORD_NOT_SAVED)) {
      scratch->addWordIfNew(w->name, w->pron, w->wordClass);
      any = true;
    }
    i = w->nextPron;
  }
  if (any) return;
  for (int i = primary->index; i >= 0;) {
    const WordData* w = words->wordAt(i);
    if (w == nullptr) break;
    if (w->pron) scratch->addWordIfNew(w->name, w->pron, w->wordClass);
    i = w->nextPron;
  }
}

}  // namespace

int rewriteVocabulary(WordDictionary* words, const TsvStore& store, const std::string& path) {
  WordDictionary scratch(words->maxWords() > 16 ? words->maxWords() : 16);
  char cleaned[1024];
  for (const Entry& e : store.entries) {
    if (!e.active || e.row < 0) continue;
    for (const std::string* text : {&e.first, &e.second, &e.third}) {
      if (text->empty()) continue;
      if (cleanUpName(cleaned, text->c_str(), sizeof cleaned, 0) == nullptr) continue;
      // The words of the name: each "_"-separated part that is a dictionary word (the names'
      // compound words are made again from their parts at the next start).
      char* p = cleaned;
      while (*p) {
        char* end = std::strchr(p, '_');
        const bool last = end == nullptr;
        if (!last) *end = 0;
        if (*p && *p != '\\') copyWord(words, &scratch, p);
        if (last) break;
        p = end + 1;
      }
    }
  }
  return scratch.writeFile(path.c_str());
}

}  // namespace vlm
