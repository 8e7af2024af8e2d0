// libFuzzer target for namefind's contacts files: the input is read as a .tsv file and as a
// vCard file. Whatever is read must save without failing, and a .tsv saved and read again must
// give the same rows (nothing the reader took is lost).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "apps/namefind/contacts.h"
#include "apps/namefind/vcard.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  vlm::TsvStore tsv;
  tsv.loadText(text);
  const std::string saved = tsv.saveText();
  vlm::TsvStore again;
  again.loadText(saved);
  if (again.rows.size() != tsv.rows.size()) std::abort();
  for (size_t i = 0; i < tsv.rows.size(); i++)
    if (again.rows[i].fields != tsv.rows[i].fields) std::abort();
  for (const vlm::Entry& e : tsv.entries) (void)vlm::detailLines(e, &tsv.rows[static_cast<size_t>(e.row)]);

  vlm::TsvStore cards;
  vlm::VCardFile vcf;
  vcf.loadText(text, &cards);
  // Nothing deleted: the file comes back byte for byte; every card deleted: only what lies
  // outside cards remains.
  if (vcf.textWithout(cards) != text) std::abort();
  for (vlm::Entry& e : cards.entries) e.active = 0;
  if (vcf.textWithout(cards).size() > text.size()) std::abort();
  return 0;
}
