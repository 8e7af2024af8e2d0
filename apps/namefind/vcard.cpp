#define VLM_UNIT "vcard"
// vCard reading (2.1, 3.0, 4.0) into contact rows; saving by removing deleted cards.
#include "apps/namefind/vcard.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>

#include "foundation/log.h"

namespace vlm {

namespace {

std::string upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return s;
}

bool startsNoCase(const std::string& s, size_t at, const char* prefix) {
  const size_t n = std::strlen(prefix);
  if (s.size() - at < n) return false;
  return upper(s.substr(at, n)) == prefix;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// UTF-8 to Latin-1; text that is not valid UTF-8 is kept byte for byte.
std::string fromUtf8(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    int length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (length == 0 || i + static_cast<size_t>(length) > s.size()) return s;
    unsigned code = length == 1 ? c : length == 2 ? c & 0x1F : length == 3 ? c & 0x0F : c & 0x07;
    for (int k = 1; k < length; k++) {
      const unsigned char d = static_cast<unsigned char>(s[i + static_cast<size_t>(k)]);
      if ((d >> 6) != 2) return s;
      code = (code << 6) | (d & 0x3F);
    }
    out += code < 0x100 ? static_cast<char>(code) : '?';
    i += static_cast<size_t>(length);
  }
  return out;
}

// A structured value split at unescaped ";" (components stay escaped).
std::vector<std::string> components(const std::string& value) {
  std::vector<std::string> parts(1);
  for (size_t i = 0; i < value.size(); i++) {
    if (value[i] == '\\' && i + 1 < value.size()) {
      parts.back() += value.substr(i, 2);
      i++;
    } else if (value[i] == ';') {
      parts.emplace_back();
    } else {
      parts.back() += value[i];
    }
  }
  return parts;
}

// One content line: name (without group), parameters (upper case, "TYPE=" values split), value.
struct Property {
  std::string name;
  std::vector<std::string> types;   // HOME, WORK, FAX, CELL, ...
  bool quotedPrintable = false;
  std::string charset;
  std::string value;
  bool has(const char* type) const {
    for (const std::string& t : types)
      if (t == type) return true;
    return false;
  }
};

bool parseLine(const std::string& line, Property* p) {
  size_t i = 0;
  bool quoted = false;
  size_t colon = std::string::npos;
  for (; i < line.size(); i++) {
    if (line[i] == '"') quoted = !quoted;
    else if (line[i] == ':' && !quoted) {
      colon = i;
      break;
    }
  }
  if (colon == std::string::npos) return false;
  const std::string head = line.substr(0, colon);
  p->value = line.substr(colon + 1);
  std::vector<std::string> params;
  std::string cur;
  quoted = false;
  for (char c : head) {
    if (c == '"') quoted = !quoted;
    if (c == ';' && !quoted) {
      params.push_back(cur);
      cur.clear();
    } else if (c != '"') {
      cur += c;
    }
  }
  params.push_back(cur);
  std::string name = upper(params[0]);
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos) name = name.substr(dot + 1);   // "item1.TEL"
  p->name = name;
  for (size_t k = 1; k < params.size(); k++) {
    const std::string param = upper(params[k]);
    const size_t eq = param.find('=');
    const std::string key = eq == std::string::npos ? "TYPE" : param.substr(0, eq);
    const std::string val = eq == std::string::npos ? param : param.substr(eq + 1);
    if (key == "ENCODING") {
      p->quotedPrintable = val == "QUOTED-PRINTABLE";
    } else if (key == "CHARSET") {
      p->charset = val;
    } else if (key == "TYPE") {
      size_t s = 0;
      while (s <= val.size()) {
        size_t e = val.find(',', s);
        if (e == std::string::npos) e = val.size();
        if (e > s) p->types.push_back(val.substr(s, e - s));
        s = e + 1;
      }
      if (val == "QUOTED-PRINTABLE") p->quotedPrintable = true;
    }
  }
  return true;
}

// Leading blanks, tabs, CR and LF removed; "United States" becomes "USA" for countries.
std::string cleaned(const std::string& v) {
  size_t s = 0;
  while (s < v.size() && (v[s] == ' ' || v[s] == '\t' || v[s] == '\r' || v[s] == '\n')) s++;
  return v.substr(s);
}

void put(Row* row, int column, const std::string& value) {
  const std::string v = cleaned(value);
  if (!v.empty() && row->get(column) == nullptr) row->set(column, v);
}

// The first column of the list that is still free.
void putFirstFree(Row* row, std::initializer_list<int> columns, const std::string& value) {
  const std::string v = cleaned(value);
  if (v.empty()) return;
  for (int c : columns)
    if (row->get(c) == nullptr) {
      row->set(c, v);
      return;
    }
}

void addProperty(const Property& p, Row* row, std::string* formatted) {
  auto decoded = [&](const std::string& raw) { return decodeVCardValue(raw, p.quotedPrintable, p.charset, true); };
  if (p.name == "N") {
    const std::vector<std::string> c = components(p.value);
    put(row, eColLastName, decoded(c[0]));
    if (c.size() > 1) put(row, eColFirstName, decoded(c[1]));
    if (c.size() > 2) put(row, eColNickName, decoded(c[2]));   // the middle name, shown, not spoken
  } else if (p.name == "FN") {
    *formatted = decoded(p.value);
  } else if (p.name == "NICKNAME") {
    put(row, eColNickName, decoded(p.value));
  } else if (p.name == "ORG") {
    const std::vector<std::string> c = components(p.value);
    put(row, eColCompanyName, decoded(c[0]));
    if (c.size() > 1) put(row, 27, decoded(c[1]));
  } else if (p.name == "TITLE") {
    put(row, 25, decoded(p.value));
  } else if (p.name == "TEL") {
    const std::string v = decodeVCardValue(p.value, p.quotedPrintable, p.charset, true);
    const std::string number = v.compare(0, 4, "tel:") == 0 ? v.substr(4) : v;
    const bool work = p.has("WORK"), home = p.has("HOME"), fax = p.has("FAX");
    if (fax) putFirstFree(row, {work || !home ? 11 : 6}, number);
    else if (p.has("CELL")) putFirstFree(row, {12}, number);
    else if (p.has("PAGER")) putFirstFree(row, {eColPager}, number);
    else if (p.has("CAR")) putFirstFree(row, {15}, number);
    else if (p.has("X-RADIO") || p.has("RADIO")) putFirstFree(row, {16}, number);
    else if (work) putFirstFree(row, {7, 9}, number);
    else putFirstFree(row, {3, 5}, number);
  } else if (p.name == "EMAIL") {
    putFirstFree(row, {17, 18, 48}, decoded(p.value));
  } else if (p.name == "URL") {
    putFirstFree(row, {24, 33, 39}, decoded(p.value));
  } else if (p.name == "ADR") {
    // post office box; extended; street; city; region; postal code; country
    const std::vector<std::string> c = components(p.value);
    const int base = p.has("HOME") ? 19 : p.has("WORK") ? 28 : 34;
    if (row->get(base) || row->get(base + 1) || row->get(base + 4)) return;   // the first address of a kind
    std::string street;
    for (size_t k = 0; k < 3 && k < c.size(); k++) {
      const std::string part = cleaned(decoded(c[k]));
      if (!part.empty()) street += (street.empty() ? "" : ", ") + part;
    }
    put(row, base, street);
    for (int k = 1; k <= 4; k++)
      if (c.size() > static_cast<size_t>(2 + k)) {
        std::string v = cleaned(decoded(c[static_cast<size_t>(2 + k)]));
        if (k == 4 && v == "United States") v = "USA";
        put(row, base + k, v);
      }
  } else if (p.name == "BDAY") {
    put(row, 40, decoded(p.value));
  } else if (p.name == "ANNIVERSARY" || p.name == "X-ANNIVERSARY") {
    put(row, 49, decoded(p.value));
  } else if (p.name == "NOTE") {
    put(row, eColNotes, decoded(p.value));
  } else if (p.name == "CATEGORIES") {
    put(row, 43, decoded(p.value));
  } else if (p.name == "X-CHILDREN" || p.name == "X-MS-CHILD") {
    putFirstFree(row, {41}, decoded(p.value));
  }
}

}  // namespace

std::string decodeVCardValue(const std::string& raw, bool quotedPrintable, const std::string& charset, bool unescape) {
  std::string bytes;
  if (quotedPrintable) {
    for (size_t i = 0; i < raw.size(); i++) {
      if (raw[i] == '=' && i + 2 < raw.size() && hexValue(raw[i + 1]) >= 0 && hexValue(raw[i + 2]) >= 0) {
        bytes += static_cast<char>(hexValue(raw[i + 1]) * 16 + hexValue(raw[i + 2]));
        i += 2;
      } else {
        bytes += raw[i];
      }
    }
  } else {
    bytes = raw;
  }
  std::string text;
  if (unescape) {
    for (size_t i = 0; i < bytes.size(); i++) {
      if (bytes[i] == '\\' && i + 1 < bytes.size()) {
        const char n = bytes[++i];
        text += n == 'n' || n == 'N' ? '\n' : n;
      } else {
        text += bytes[i];
      }
    }
  } else {
    text = bytes;
  }
  // UTF-8 unless another charset is named; 8-bit charsets are taken as they are.
  const std::string cs = upper(charset);
  if (cs.empty() || cs == "UTF-8" || cs == "UTF8") return fromUtf8(text);
  return text;
}

void VCardFile::loadText(const std::string& t, TsvStore* store) {
  text = t;
  cards.clear();
  store->rows.clear();
  store->entries.clear();
  // Physical lines with their byte ranges.
  struct Line {
    size_t begin, end, next;   // text, and where the next line starts
  };
  std::vector<Line> lines;
  for (size_t pos = 0; pos < text.size();) {
    size_t end = pos;
    while (end < text.size() && text[end] != '\n' && text[end] != '\r') end++;
    size_t next = end;
    if (next < text.size() && text[next] == '\r') {
      next++;
      if (next < text.size() && text[next] == '\n') next++;
    } else if (next < text.size()) {
      next++;
    }
    lines.push_back({pos, end, next});
    pos = next;
  }
  size_t li = 0;
  while (li < lines.size()) {
    if (!startsNoCase(text, lines[li].begin, "BEGIN:VCARD")) {
      li++;
      continue;
    }
    const size_t cardBegin = lines[li].begin;
    size_t cardEnd = text.size();
    Row row;
    std::string formatted;
    std::string logical;
    bool open = false;
    auto finish = [&]() {
      if (!open) return;
      Property p;
      if (parseLine(logical, &p)) addProperty(p, &row, &formatted);
      open = false;
    };
    li++;
    bool ended = false;
    while (li < lines.size()) {
      const Line& l = lines[li];
      const std::string physical = text.substr(l.begin, l.end - l.begin);
      if (!physical.empty() && (physical[0] == ' ' || physical[0] == '\t') && open) {
        logical += physical.substr(1);   // folded: the break and one blank go
        li++;
        continue;
      }
      if (open && !logical.empty() && logical.back() == '=' && upper(logical).find("QUOTED-PRINTABLE") != std::string::npos &&
          logical.find(':') != std::string::npos) {
        logical.pop_back();   // a quoted-printable soft line break
        logical += physical;
        li++;
        continue;
      }
      finish();
      if (startsNoCase(text, l.begin, "END:VCARD")) {
        cardEnd = l.next;
        li++;
        ended = true;
        break;
      }
      if (startsNoCase(text, l.begin, "BEGIN:VCARD")) break;   // a card without its end
      if (!physical.empty()) {
        logical = physical;
        open = true;
      }
      li++;
    }
    finish();
    if (!ended && li < lines.size()) cardEnd = lines[li].begin;
    if (row.get(eColFirstName) == nullptr && row.get(eColLastName) == nullptr && !formatted.empty() &&
        row.get(eColCompanyName) == nullptr)
      put(&row, eColFirstName, formatted);
    cards.push_back({cardBegin, cardEnd});
    // Every card has its row and entry, so that rows and cards keep the same positions.
    store->rows.push_back(row);
    Entry e;
    e.kind = eKindContact;
    e.row = static_cast<int>(store->rows.size()) - 1;
    store->entryTexts(e.row, &e);
    e.active = 1;
    store->entries.push_back(e);
  }
}

int VCardFile::load(const std::string& path, TsvStore* store) {
  std::string all;
  if (readFileText(path, &all) == 0) {
    store->rows.clear();
    store->entries.clear();
    text.clear();
    cards.clear();
    return 0;
  }
  loadText(all, store);
  return 1;
}

std::string VCardFile::textWithout(const TsvStore& store) const {
  std::vector<bool> drop(cards.size(), false);
  for (const Entry& e : store.entries)
    if (!e.active && e.row >= 0 && e.row < static_cast<int>(cards.size()) &&
        !store.rows[static_cast<size_t>(e.row)].fields.empty())
      drop[static_cast<size_t>(e.row)] = true;
  std::string out;
  size_t pos = 0;
  for (size_t i = 0; i < cards.size(); i++) {
    if (!drop[i]) continue;
    out.append(text, pos, cards[i].first - pos);
    pos = cards[i].second;
  }
  out.append(text, pos, std::string::npos);
  return out;
}

int VCardFile::save(const std::string& path, const TsvStore& store) const {
  const std::string out = textWithout(store);
  return out == text ? 1 : replaceFileText(path, out);
}

}  // namespace vlm
