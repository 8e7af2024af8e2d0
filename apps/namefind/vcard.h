// The contacts of the desktop's address book: a vCard file (2.1, 3.0 and 4.0) read into the
// rows of a TsvStore, and saved by removing the cards of deleted entries while every other byte
// of the file stays as it was. docs/namefind.md has the map of vCard properties to columns.
#pragma once
#include <string>
#include <utility>
#include <vector>

#include "apps/namefind/contacts.h"

namespace vlm {

class VCardFile {
 public:
  // Reads path into store (kind -2, one row and entry per card, in file order): 1 when read,
  // 0 when it cannot be opened (the store is then empty).
  int load(const std::string& path, TsvStore* store);
  // The same from text in memory.
  void loadText(const std::string& text, TsvStore* store);
  // Writes the file without the cards whose entries are deleted, through a temporary file
  // renamed over path. Contacts added in namefind are not written (the address book is the desktop's).
  // 1 when written (also when nothing had to change), 0 on failure (path keeps what it held).
  int save(const std::string& path, const TsvStore& store) const;
  // The text save would write.
  std::string textWithout(const TsvStore& store) const;

  int cardCount() const { return static_cast<int>(cards.size()); }

 private:
  std::string text;
  std::vector<std::pair<size_t, size_t>> cards;   // byte range of each card, its line end included
};

// One property's value decoded: quoted-printable, backslash escapes, the charset (UTF-8 and
// other text become 8-bit Latin-1; characters beyond it become "?").
std::string decodeVCardValue(const std::string& raw, bool quotedPrintable, const std::string& charset, bool unescape);

}  // namespace vlm
