// Phone codes to phoneme symbols, and phoneme symbols to synthesis elements through the symbol
// trie (longest match, found children moved to the front of their list).
#define VLM_UNIT "synth"
#include <cstring>

#include "synth/synthrules.h"

namespace vlm {

namespace {

void put(AC<char>& out, char c) { out.add(c); }

bool endsInBlank(const AC<char>& out) { return out.count() > 0 && out[out.count() - 1] == ' '; }

}  // namespace

int rewritePhones(const char* pron, AC<char>& out) {
  out.removeAll();
  if (!pron) return 0;
  for (const char* p = pron; *p; ++p) {
    const char c = *p;
    switch (c) {
      case '\t': case ' ': case '.':
        if (out.count() > 0 && !endsInBlank(out)) put(out, ' ');
        break;
      case '@': case 'D': case 'S': case 'T': case 'Z': case 'b': case 'd': case 'e': case 'f':
      case 'g': case 'h': case 'k': case 'l': case 'm': case 'n': case 'p': case 'r': case 's':
      case 't': case 'v': case 'w': case 'z':
        put(out, c);
        break;
      case '+': put(out, 't'); break;
      case '0': case 'O':
        if (p[1] == 'r') {
          put(out, 'O'); put(out, 'r'); ++p;
        } else if (p[1] == 'Y') {
          put(out, 'o'); put(out, 'I'); ++p;
        } else {
          put(out, '@'); put(out, 'U');
          if (p[1] == 'w') ++p;
        }
        break;
      case '?': put(out, 'a'); put(out, 'U'); break;
      case '8': put(out, 'U'); break;
      case 'A': put(out, 'e'); put(out, 'I'); break;
      case ':': case 'i': put(out, 'I'); break;
      case 'C': put(out, 't'); put(out, 'S'); break;
      case 'E': case 'Y': put(out, 'i'); break;
      case 'I': put(out, 'a'); put(out, 'I'); break;
      case 'K': put(out, 'k'); break;
      case 'L': put(out, '@'); put(out, 'l'); break;
      case 'M': put(out, '@'); put(out, 'm'); break;
      case 'N': put(out, '@'); put(out, 'n'); break;
      case 'P': case 'R': put(out, '3'); break;
      case 'U': put(out, 'u'); break;
      case 'a': put(out, '&'); break;
      case 'c': put(out, 'e'); break;
      case 'j': put(out, 'd'); put(out, 'Z'); break;
      case 'o':
        if (p[1] == 'E') {
          put(out, 'a'); put(out, 'I'); ++p;
        } else {
          put(out, '0');
        }
        break;
      case 'u': put(out, 'V'); break;
      case 'y': put(out, 'j'); break;
      case '~': put(out, 'N'); break;
      default: break;  // not a phone code: dropped
    }
  }
  if (out.count() > 0 && !endsInBlank(out)) {
    put(out, ' ');
    put(out, ' ');
  }
  return out.count();
}

namespace {

// Symbol → element names, one symbol per row.
struct Expansion {
  const char* symbol;
  const char* elements;
};
const Expansion kExpansions[] = {
    {" ", "Q"},          {"p", "P PY PZ"},     {"t", "T TY TZ"},     {"k", "K KY KZ"},
    {"b", "B BY BZ"},    {"d", "D DY DZ"},     {"g", "G GY GZ"},     {"m", "M"},
    {"n", "N"},          {"N", "NG"},          {"f", "F"},           {"T", "TH"},
    {"s", "S"},          {"S", "SH"},          {"h", "H"},           {"v", "V QQ V"},
    {"D", "DH QQ DI"},   {"z", "Z QQ ZZ"},     {"Z", "ZH QQ ZH"},    {"tS", "CH CI"},
    {"dZ", "J JY QQ JY"}, {"l", "L"},          {"r", "R"},           {"rr", "R QQ R"},
    {"R", "RX"},         {"w", "W"},           {"x", "X"},           {"%", "QQ"},
    {"j", "Y"},          {"I", "I"},           {"e", "E"},           {"&", "AA"},
    {"V", "U"},          {"0", "O"},           {"U", "OO"},          {"@", "A"},
    {"i", "EE"},         {"3", "ER"},          {"A", "AR"},          {"O", "AW"},
    {"u", "UU"},         {"o", "OI"},          {"eI", "AI I"},       {"aI", "IE I"},
    {"oI", "OI I"},      {"aU", "OU OV"},      {"@U", "OA OV"},      {"I@", "IA IB"},
    {"e@", "AIR IB"},    {"U@", "OOR IB"},     {"O@", "OR IB"},      {"oU", "OI OV"},
};

constexpr int kMaxExpansion = 4;

struct TrieNode {
  char ch;
  TrieNode* child;    // first child
  TrieNode* sibling;  // next in the parent's child list
  int elementCount;   // elements of the symbol that ends here (0: no symbol ends here)
  unsigned char element[kMaxExpansion];
};

TrieNode* trieRoot = nullptr;

TrieNode* newNode(char c) {
  TrieNode* n = new TrieNode;
  n->ch = c;
  n->child = nullptr;
  n->sibling = nullptr;
  n->elementCount = 0;
  return n;
}

// Finds the child of parent that holds c and moves it to the front of the child list.
TrieNode* findChild(TrieNode* parent, char c) {
  TrieNode* prev = nullptr;
  for (TrieNode* n = parent->child; n; prev = n, n = n->sibling) {
    if (n->ch != c) continue;
    if (prev) {
      prev->sibling = n->sibling;
      n->sibling = parent->child;
      parent->child = n;
    }
    return n;
  }
  return nullptr;
}

void buildTrie() {
  trieRoot = newNode(0);
  for (const Expansion& e : kExpansions) {
    TrieNode* node = trieRoot;
    for (const char* s = e.symbol; *s; ++s) {
      TrieNode* next = findChild(node, *s);
      if (!next) {
        next = newNode(*s);
        next->sibling = node->child;
        node->child = next;
      }
      node = next;
    }
    // The element names are separated by single blanks.
    const char* p = e.elements;
    while (*p) {
      char name[8];
      int n = 0;
      while (p[n] && p[n] != ' ' && n < 7) {
        name[n] = p[n];
        ++n;
      }
      name[n] = 0;
      p += n;
      if (*p == ' ') ++p;
      const int index = findSynthElement(name);
      VLM_ASSERT(index >= 0 && node->elementCount < kMaxExpansion, "element of the expansion table");
      if (index >= 0 && node->elementCount < kMaxExpansion)
        node->element[node->elementCount++] = static_cast<unsigned char>(index);
    }
  }
}

void discardDiagnostic(const char*) {}
SynthDiagnosticSink diagnosticSink = discardDiagnostic;

void reportIgnored(char c, const char* symbols, int length) {
  char text[160];
  int n = 0;
  const char head[] = "Ignoring ";
  for (const char* h = head; *h; ++h) text[n++] = *h;
  text[n++] = c;
  for (const char* h = " in '"; *h; ++h) text[n++] = *h;
  for (int i = 0; i < length && n < static_cast<int>(sizeof text) - 4; ++i) text[n++] = symbols[i];
  text[n++] = '\'';
  text[n++] = '\n';
  text[n] = 0;
  diagnosticSink(text);
}

}  // namespace

void setSynthDiagnosticSink(SynthDiagnosticSink sink) {
  diagnosticSink = sink ? sink : discardDiagnostic;
}

int expandPhonemes(const char* symbols, int length, AC<char>& elements) {
  elements.removeAll();
  if (!symbols || length <= 0) return 0;
  if (!trieRoot) buildTrie();
  const Element* table = synthElements();
  int frames = 0;
  int stress = 0;
  int i = 0;
  while (i < length) {
    // Longest match: walk down the trie and remember the deepest node that ends a symbol.
    const TrieNode* best = nullptr;
    int bestLength = 0;
    TrieNode* node = trieRoot;
    for (int j = i; j < length; ++j) {
      node = findChild(node, symbols[j]);
      if (!node) break;
      if (node->elementCount > 0) {
        best = node;
        bestLength = j - i + 1;
      }
    }
    if (!best) {
      const char c = symbols[i];
      if (c == '\'') {
        stress = 3;
      } else if (c == '+') {
        stress = 1;
      } else if (c != '-') {
        reportIgnored(c, symbols, length);
      }
      ++i;
      continue;
    }
    for (int k = 0; k < best->elementCount; ++k) {
      const Element& e = table[best->element[k]];
      double d = kSynthSpeedFactor * ((e.duration + e.unstressedDuration) / 2.0);
      int duration = static_cast<int>(d);
      if (duration > 255) duration = 255;
      if (duration < 0) duration = 0;
      const char triple[3] = {static_cast<char>(best->element[k]), static_cast<char>(duration),
                              static_cast<char>((e.features & ELM_VOWEL) ? stress : 0)};
      for (char b : triple) elements.add(b);
      frames += duration;
    }
    i += bestLength;
  }
  return frames;
}

}  // namespace vlm
