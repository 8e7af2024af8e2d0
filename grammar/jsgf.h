// Conversion of JSGF grammars (Java Speech Grammar Format 1.0) into .rul text.
//
// Supported: the "#JSGF" header, "grammar" and "import" statements (imports are reported and
// ignored), public and private rules, alternatives "|", sequences, optional "[ ]", grouping
// "( )", "+" (one or more), "*" (zero or more: an optional repeat), rule references "<name>"
// (a reference qualified with the grammar's own name is taken as local), <NULL>, quoted tokens,
// and comments ("//" and "/* */"). Weights "/w/" and tags "{...}" have no .rul form: they are
// dropped with a warning. JSGF rule names become rule names.
//
// Words are checked against the dictionary: found by name, in lower case, or (for a quoted token
// or a name with "_") as a compound of dictionary words, which the .rul reader builds on the fly.
// Words that are not found are listed in missingWords and kept in the text as written, so that
// nothing is dropped silently. This is tool code (standard containers), not an engine record.
#pragma once
#include <string>
#include <vector>

namespace vlm {

class WordDictionary;

struct JsgfConversion {
  std::string rul;                       // the .rul text: forward declarations, then the bodies
  std::vector<std::string> rules;        // every rule, in source order
  std::vector<std::string> publicRules;  // the public ones
  std::vector<std::string> missingWords; // words not in the dictionary (sorted, each once)
  std::vector<std::string> messages;     // "name:line: error: ..." and "name:line: warning: ..."
  int errors = 0;
  int warnings = 0;
};

// Converts JSGF text. sourceName prefixes the messages. Returns 1 when the grammar converted
// without errors and every word was found; 0 otherwise (out then holds what could be converted).
int convertJsgf(const char* text, WordDictionary* words, JsgfConversion* out, const char* sourceName = "grammar");

}  // namespace vlm
