// JSGF to .rul conversion: a tokenizer, a recursive-descent parser into a small expression tree,
// simplification of <NULL> and <VOID>, and the .rul text.
#include "grammar/jsgf.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>

#include "foundation/ordcoll.h"
#include "lexicon/worddict.h"

namespace vlm {

namespace {

struct Token {
  enum Kind { eEnd, eWord, eQuoted, eRuleName, ePunct, eTag, eWeight, eHeader } kind = eEnd;
  std::string text;
  int line = 1;
};

struct Expr {
  enum Kind { eWordX, eRefX, eSeqX, eAltX, eOptX, ePlusX, eStarX, eNullX, eVoidX } kind = eNullX;
  std::string text;   // word or rule name
  bool quoted = false;
  int line = 0;
  std::vector<Expr> kids;
};

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }
bool isJsgfSpecial(char c) { return std::strchr(";=|*+<>()[]{}/\"", c) != nullptr; }
// Characters that a .rul body cannot hold unescaped inside a word or rule name.
bool isRulSpecial(char c) { return isSpace(c) || std::strchr("&()+:;<>[]{}", c) != nullptr; }

class Converter {
 public:
  Converter(const char* text, WordDictionary* words, JsgfConversion* out, const char* source)
      : p(text), words(words), out(out), source(source ? source : "grammar") {}
  void run();

 private:
  // Tokens.
  Token lex();
  const Token& peek() {
    if (!havePeek) {
      peeked = lex();
      havePeek = true;
    }
    return peeked;
  }
  Token take() {
    Token t = peek();
    havePeek = false;
    return t;
  }
  bool takePunct(char c) {
    if (peek().kind == Token::ePunct && peek().text[0] == c) {
      take();
      return true;
    }
    return false;
  }
  void skipStatement();

  // Grammar.
  bool parseAlternatives(Expr* e);
  bool parseSequence(Expr* e);
  bool parseItem(Expr* e);
  std::string localName(const std::string& name) const;

  // Output.
  Expr simplify(Expr e) const;
  std::string element(const Expr& e);
  std::string sequenceContent(const Expr& e);
  std::string repeatable(const Expr& e);
  std::string alternatives(const Expr& e);
  std::string word(const Expr& e);
  std::string resolve(const std::string& token, int line);
  void checkRefs(const Expr& e);

  void message(int line, const char* kind, const std::string& text) {
    out->messages.push_back(std::string(source) + ":" + std::to_string(line) + ": " + kind + ": " + text);
    if (std::strcmp(kind, "error") == 0)
      out->errors++;
    else
      out->warnings++;
  }
  void error(int line, const std::string& text) { message(line, "error", text); }
  void warning(int line, const std::string& text) { message(line, "warning", text); }

  const char* p;
  int line = 1;
  bool havePeek = false;
  Token peeked;
  WordDictionary* words;
  JsgfConversion* out;
  const char* source;
  std::string grammarName;
  std::map<std::string, std::pair<Expr, int>> definitions;  // name -> (expansion, line)
  static constexpr int kMaxNesting = 100;  // deepest grouping, so that no input exhausts the stack
  int nesting = 0;
  std::set<std::string> missing;
};

Token Converter::lex() {
  Token t;
  for (;;) {
    while (*p && isSpace(*p)) {
      if (*p == '\n') line++;
      p++;
    }
    if (p[0] == '/' && p[1] == '/') {
      while (*p && *p != '\n') p++;
      continue;
    }
    if (p[0] == '/' && p[1] == '*') {
      int start = line;
      p += 2;
      while (*p && !(p[0] == '*' && p[1] == '/')) {
        if (*p == '\n') line++;
        p++;
      }
      if (*p == 0) {
        error(start, "unterminated comment");
        break;
      }
      p += 2;
      continue;
    }
    break;
  }
  t.line = line;
  if (*p == 0) return t;
  const char c = *p;
  auto until = [&](char close, Token::Kind kind, const char* what) {
    p++;
    const char* start = p;
    while (*p && *p != close) {
      if (*p == '\\' && p[1]) p++;
      if (*p == '\n') line++;
      p++;
    }
    t.kind = kind;
    t.text.assign(start, p);
    if (*p == close)
      p++;
    else
      error(t.line, std::string("unterminated ") + what);
  };
  if (c == '#' && std::strncmp(p, "#JSGF", 5) == 0) {
    const char* start = p;
    while (*p && *p != ';' && *p != '\n') p++;
    t.kind = Token::eHeader;
    t.text.assign(start, p);
    if (*p == ';') p++;
  } else if (c == '<') {
    until('>', Token::eRuleName, "rule name");
    while (!t.text.empty() && isSpace(t.text.back())) t.text.pop_back();
    while (!t.text.empty() && isSpace(t.text.front())) t.text.erase(0, 1);
  } else if (c == '"') {
    until('"', Token::eQuoted, "quoted token");
    std::string unescaped;
    for (size_t i = 0; i < t.text.size(); i++) {
      if (t.text[i] == '\\' && i + 1 < t.text.size()) i++;
      unescaped += t.text[i];
    }
    t.text = unescaped;
  } else if (c == '{') {
    until('}', Token::eTag, "tag");
  } else if (c == '/') {
    until('/', Token::eWeight, "weight");
  } else if (std::strchr(";=|*+()[]", c) != nullptr) {
    t.kind = Token::ePunct;
    t.text.assign(1, c);
    p++;
  } else if (c == '>' || c == '}') {
    t.kind = Token::ePunct;
    t.text.assign(1, c);
    p++;
  } else {
    const char* start = p;
    while (*p && !isSpace(*p) && !isJsgfSpecial(*p)) {
      if (*p == '\\' && p[1]) p++;
      p++;
    }
    t.kind = Token::eWord;
    t.text.assign(start, p);
  }
  return t;
}

void Converter::skipStatement() {
  while (peek().kind != Token::eEnd) {
    Token t = take();
    if (t.kind == Token::ePunct && t.text == ";") return;
  }
}

std::string Converter::localName(const std::string& name) const {
  // <grammar.rule> and <package.grammar.rule> name a rule of this grammar.
  if (!grammarName.empty()) {
    std::string full = grammarName + ".";
    if (name.compare(0, full.size(), full) == 0) return name.substr(full.size());
    size_t dot = grammarName.rfind('.');
    std::string last = (dot == std::string::npos ? grammarName : grammarName.substr(dot + 1)) + ".";
    if (name.compare(0, last.size(), last) == 0) return name.substr(last.size());
  }
  return name;
}

bool Converter::parseAlternatives(Expr* e) {
  e->kind = Expr::eAltX;
  e->line = peek().line;
  for (;;) {
    if (peek().kind == Token::eWeight) {
      warning(peek().line, "weight /" + peek().text + "/ dropped");
      take();
    }
    Expr branch;
    if (!parseSequence(&branch)) return false;
    e->kids.push_back(std::move(branch));
    if (!takePunct('|')) break;
  }
  if (e->kids.size() == 1) {
    Expr only = std::move(e->kids[0]);
    *e = std::move(only);
  }
  return true;
}

bool Converter::parseSequence(Expr* e) {
  e->kind = Expr::eSeqX;
  e->line = peek().line;
  for (;;) {
    const Token& t = peek();
    if (t.kind == Token::eEnd) break;
    if (t.kind == Token::ePunct && std::strchr("|;)]", t.text[0]) != nullptr) break;
    if (t.kind == Token::eTag) {
      warning(t.line, "tag {" + t.text + "} dropped");
      take();
      continue;
    }
    Expr item;
    if (!parseItem(&item)) return false;
    e->kids.push_back(std::move(item));
  }
  if (e->kids.empty()) {
    error(e->line, "empty expansion");
    return false;
  }
  return true;
}

bool Converter::parseItem(Expr* e) {
  Token t = take();
  e->line = t.line;
  switch (t.kind) {
    case Token::eWord:
    case Token::eQuoted:
      e->kind = Expr::eWordX;
      e->text = t.text;
      e->quoted = t.kind == Token::eQuoted;
      break;
    case Token::eRuleName:
      if (t.text == "NULL") {
        e->kind = Expr::eNullX;
      } else if (t.text == "VOID") {
        e->kind = Expr::eVoidX;
      } else {
        e->kind = Expr::eRefX;
        e->text = localName(t.text);
      }
      break;
    case Token::ePunct:
      if (t.text == "(" || t.text == "[") {
        const char close = t.text == "(" ? ')' : ']';
        if (nesting >= kMaxNesting) {
          error(t.line, "groups nested too deeply");
          return false;
        }
        Expr inner;
        nesting++;
        const bool parsed = parseAlternatives(&inner);
        nesting--;
        if (!parsed) return false;
        if (!takePunct(close)) {
          error(peek().line, std::string("'") + close + "' expected");
          return false;
        }
        if (close == ']') {
          e->kind = Expr::eOptX;
          e->kids.push_back(std::move(inner));
        } else {
          *e = std::move(inner);
        }
        break;
      }
      error(t.line, "unexpected '" + t.text + "'");
      return false;
    case Token::eWeight:
      error(t.line, "weight /" + t.text + "/ inside a sequence");
      return false;
    default:
      error(t.line, "unexpected end of the grammar");
      return false;
  }
  for (;;) {  // unary operators and tags
    if (peek().kind == Token::eTag) {
      warning(peek().line, "tag {" + peek().text + "} dropped");
      take();
      continue;
    }
    if (peek().kind == Token::ePunct && (peek().text == "*" || peek().text == "+")) {
      Expr repeated;
      repeated.kind = take().text == "*" ? Expr::eStarX : Expr::ePlusX;
      repeated.line = e->line;
      repeated.kids.push_back(std::move(*e));
      *e = std::move(repeated);
      continue;
    }
    break;
  }
  return true;
}

// Removes <NULL> (matches nothing) and <VOID> (never matches) where .rul has no form for them.
Expr Converter::simplify(Expr e) const {
  for (Expr& k : e.kids) k = simplify(std::move(k));
  switch (e.kind) {
    case Expr::eSeqX: {
      std::vector<Expr> kept;
      for (Expr& k : e.kids) {
        if (k.kind == Expr::eVoidX) return k;
        if (k.kind == Expr::eSeqX) {
          for (Expr& kk : k.kids) kept.push_back(std::move(kk));
        } else if (k.kind != Expr::eNullX) {
          kept.push_back(std::move(k));
        }
      }
      if (kept.empty()) {
        Expr null;
        null.kind = Expr::eNullX;
        null.line = e.line;
        return null;
      }
      if (kept.size() == 1) return std::move(kept[0]);
      e.kids = std::move(kept);
      return e;
    }
    case Expr::eAltX: {
      std::vector<Expr> kept;
      bool optional = false;
      for (Expr& k : e.kids) {
        if (k.kind == Expr::eNullX) {
          optional = true;
        } else if (k.kind == Expr::eOptX) {
          optional = true;
          kept.push_back(std::move(k.kids[0]));
        } else if (k.kind != Expr::eVoidX) {
          kept.push_back(std::move(k));
        }
      }
      Expr result;
      result.line = e.line;
      if (kept.empty()) {
        result.kind = optional ? Expr::eNullX : Expr::eVoidX;
        return result;
      }
      if (kept.size() == 1) {
        result = std::move(kept[0]);
      } else {
        result.kind = Expr::eAltX;
        result.kids = std::move(kept);
      }
      if (!optional) return result;
      Expr wrapped;
      wrapped.kind = Expr::eOptX;
      wrapped.line = e.line;
      wrapped.kids.push_back(std::move(result));
      return wrapped;
    }
    case Expr::eOptX:
      if (e.kids[0].kind == Expr::eNullX || e.kids[0].kind == Expr::eVoidX) {
        Expr null;
        null.kind = Expr::eNullX;
        return null;
      }
      if (e.kids[0].kind == Expr::eOptX) return std::move(e.kids[0]);
      if (e.kids[0].kind == Expr::eStarX) return std::move(e.kids[0]);
      return e;
    case Expr::ePlusX:
    case Expr::eStarX:
      if (e.kids[0].kind == Expr::eOptX) {  // [x]+ and [x]* are both x*
        Expr inner = std::move(e.kids[0].kids[0]);
        e.kind = Expr::eStarX;
        e.kids[0] = std::move(inner);
      }
      if (e.kids[0].kind == Expr::eVoidX) {
        if (e.kind == Expr::ePlusX) return std::move(e.kids[0]);
        Expr null;
        null.kind = Expr::eNullX;
        return null;
      }
      if (e.kids[0].kind == Expr::eNullX) return std::move(e.kids[0]);
      return e;
    default:
      return e;
  }
}

// A dictionary spelling for a token: its name, its lower-case form, or a compound of dictionary
// words joined by "_" (built by the .rul reader). Missing words are recorded and kept as written.
std::string Converter::resolve(const std::string& token, int at) {
  if (words->getWordData(token.c_str()) != nullptr) return token;
  std::string lower = token;
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  if (words->getWordData(lower.c_str()) != nullptr) return lower;
  if (lower.find('_') != std::string::npos) {
    std::vector<char> text(lower.begin(), lower.end());
    text.push_back(0);
    IC<int> parts(14, 8);
    if (words->parseSimpleCompound(text.data(), &parts, nullptr) > 0) return lower;
  }
  if (!missing.count(token)) message(at, "error", "word not in the dictionary: " + token);
  missing.insert(token);
  return token;
}

std::string Converter::word(const Expr& e) {
  std::string spelling;
  if (e.quoted && e.text.find_first_of(" \t") != std::string::npos) {
    // A quoted phrase: one compound word when the dictionary can build it, else its words.
    std::string joined;
    std::vector<std::string> parts;
    size_t i = 0;
    while (i < e.text.size()) {
      while (i < e.text.size() && isSpace(e.text[i])) i++;
      size_t start = i;
      while (i < e.text.size() && !isSpace(e.text[i])) i++;
      if (i > start) parts.push_back(e.text.substr(start, i - start));
    }
    for (const std::string& part : parts) joined += (joined.empty() ? "" : "_") + part;
    for (char& c : joined)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    std::vector<char> text(joined.begin(), joined.end());
    text.push_back(0);
    IC<int> found(14, 8);
    if (!joined.empty() && (words->getWordData(joined.c_str()) ||
                            words->parseSimpleCompound(text.data(), &found, nullptr) > 0)) {
      spelling = joined;
    } else {
      std::string sequence;
      for (const std::string& part : parts) sequence += (sequence.empty() ? "" : " ") + resolve(part, e.line);
      return parts.size() > 1 ? "( " + sequence + " )" : sequence;
    }
  } else {
    spelling = resolve(e.text, e.line);
  }
  for (size_t i = 0; i < spelling.size(); i++) {
    if (spelling[i] == '\\' && i + 1 < spelling.size()) {
      i++;
      continue;
    }
    if (isRulSpecial(spelling[i])) {
      error(e.line, "word cannot be written in a .rul body: " + spelling);
      break;
    }
  }
  return spelling;
}

std::string Converter::sequenceContent(const Expr& e) {
  if (e.kind != Expr::eSeqX) return element(e);
  std::string text;
  for (const Expr& k : e.kids) text += (text.empty() ? "" : " ") + element(k);
  return text;
}

std::string Converter::alternatives(const Expr& e) {
  std::string text = "{";
  for (const Expr& k : e.kids) {
    // Inside braces every item is a branch: a sequence needs its own parentheses.
    text += " " + (k.kind == Expr::eSeqX ? "( " + sequenceContent(k) + " )" : element(k));
  }
  return text + " }";
}

std::string Converter::repeatable(const Expr& e) {
  switch (e.kind) {
    case Expr::eWordX: return word(e);  // a phrase of several words comes back in parentheses
    case Expr::eRefX: return "&" + e.text;
    case Expr::eAltX: return alternatives(e);
    case Expr::eSeqX: return "( " + sequenceContent(e) + " )";
    default: return "( " + element(e) + " )";  // an optional part or a repeat is repeated in a group
  }
}

std::string Converter::element(const Expr& e) {
  switch (e.kind) {
    case Expr::eWordX: return word(e);
    case Expr::eRefX: return "&" + e.text;
    case Expr::eSeqX: return sequenceContent(e);
    case Expr::eAltX: return alternatives(e);
    case Expr::eOptX: return "[ " + sequenceContent(e.kids[0]) + " ]";
    case Expr::ePlusX: return repeatable(e.kids[0]) + " +";
    case Expr::eStarX: return "[ " + repeatable(e.kids[0]) + " + ]";
    default: return "";
  }
}

void Converter::checkRefs(const Expr& e) {
  if (e.kind == Expr::eRefX && !definitions.count(e.text)) error(e.line, "undefined rule <" + e.text + ">");
  for (const Expr& k : e.kids) checkRefs(k);
}

void Converter::run() {
  if (peek().kind == Token::eHeader) {
    take();
  } else {
    warning(peek().line, "no #JSGF header");
  }
  std::vector<std::string> order;
  while (peek().kind != Token::eEnd) {
    Token t = peek();
    if (t.kind == Token::eWord && t.text == "grammar") {
      take();
      if (peek().kind == Token::eWord) grammarName = take().text;
      if (!takePunct(';')) error(t.line, "';' expected after the grammar name");
      continue;
    }
    if (t.kind == Token::eWord && t.text == "import") {
      take();
      warning(t.line, "import ignored" + (peek().kind == Token::eRuleName ? ": <" + peek().text + ">" : std::string()));
      skipStatement();
      continue;
    }
    bool isPublic = false;
    if (t.kind == Token::eWord && t.text == "public") {
      take();
      isPublic = true;
    }
    if (peek().kind != Token::eRuleName) {
      error(peek().line, "rule definition expected, found '" + peek().text + "'");
      take();
      skipStatement();
      continue;
    }
    Token name = take();
    name.text = localName(name.text);
    if (!takePunct('=')) {
      error(name.line, "'=' expected after <" + name.text + ">");
      skipStatement();
      continue;
    }
    Expr expansion;
    bool ok = parseAlternatives(&expansion);
    if (ok && !takePunct(';')) {
      error(peek().line, "';' expected at the end of <" + name.text + ">");
      ok = false;
    }
    if (!ok) {
      skipStatement();
      continue;
    }
    bool badName = name.text.empty() || name.text == "NULL" || name.text == "VOID" ||
                   name.text == "OutOfVocabularyRule" || name.text == "ReservedSilenceRule";
    for (char c : name.text) badName = badName || isRulSpecial(c) || c == '\\';
    if (badName) {
      error(name.line, "rule name cannot be used: <" + name.text + ">");
      continue;
    }
    if (definitions.count(name.text)) {
      error(name.line, "rule <" + name.text + "> defined twice");
      continue;
    }
    definitions[name.text] = {simplify(std::move(expansion)), name.line};
    order.push_back(name.text);
    if (isPublic) out->publicRules.push_back(name.text);
  }

  out->rul = std::string("; converted from ") + source + " by jsgf2rul\n\n";
  for (const std::string& name : order) out->rul += "RULE " + name + " ;\n";
  out->rul += "\n";
  for (const std::string& name : order) {
    const Expr& e = definitions[name].first;
    const int at = definitions[name].second;
    checkRefs(e);
    std::string body;
    switch (e.kind) {
      case Expr::eNullX:
        warning(at, "<" + name + "> matches nothing: written as an empty rule");
        break;
      case Expr::eVoidX:
        error(at, "<" + name + "> can never match");
        break;
      case Expr::eAltX: body = alternatives(e); break;
      case Expr::eOptX: body = element(e); break;
      default: body = "( " + sequenceContent(e) + " )"; break;
    }
    out->rules.push_back(name);
    if (body.empty()) continue;
    // Bodies run over several lines when long; a line never splits a token.
    std::string text = "RULE " + name;
    size_t column = text.size();
    size_t i = 0;
    while (i < body.size()) {
      size_t end = body.find(' ', i);
      if (end == std::string::npos) end = body.size();
      std::string token = body.substr(i, end - i);
      if (column + 1 + token.size() > 78 && column > 8) {
        text += "\n\t";
        column = 8;
      } else {
        text += " ";
        column++;
      }
      text += token;
      column += token.size();
      i = end + 1;
    }
    out->rul += text + " ;\n";
  }
  out->missingWords.assign(missing.begin(), missing.end());
}

}  // namespace

int convertJsgf(const char* text, WordDictionary* words, JsgfConversion* out, const char* sourceName) {
  if (out == nullptr) return 0;
  *out = JsgfConversion{};
  if (text == nullptr || words == nullptr) {
    out->errors++;
    out->messages.push_back(std::string(sourceName ? sourceName : "grammar") + ":0: error: no grammar or dictionary");
    return 0;
  }
  Converter converter(text, words, out, sourceName);
  converter.run();
  return out->errors == 0 && out->missingWords.empty();
}

}  // namespace vlm
