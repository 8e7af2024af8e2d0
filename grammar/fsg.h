// The grammar graph: typed items (the flat form of a parsed rule body and of a recognised word
// sequence), the finite-state graph nodes a rule body is compiled into, and the side objects
// (alternative tables, word trees, out-of-vocabulary elements) that hang on a rule's data list.
#pragma once
#include <cstdint>
#include "foundation/arrcoll.h"
#include "foundation/ordcoll.h"
#include "foundation/seq.h"

namespace vlm {

class AlternativeData;
class WordTree;
struct OutOfVocabularyElement;

// Node and item types. Below 6, and the odd values, are both item and node types; the even
// values from 6 up occur only in item arrays (closing brackets).
enum FSGNodeType {
  eTerminalNode = 0,         // end of the body (node); end of a result path (item)
  eWordNode = 1,             // value: word index
  eOutOfVocabularyNode = 2,  // item value 1; node value: its OutOfVocabularyElement
  eRuleNode = 3,             // value: rule index
  eRepeatNode = 4,           // "+"; node value: the node to go back to
  eAlternativeNode = 5,      // "{"; node value: its AlternativeData
  eAlternativeEnd = 6,       // "}"
  eWordTreeNode = 7,         // "<"; node value: its WordTree
  eWordTreeEnd = 8,          // ">"
  eSequenceNode = 9,         // "("; a node that passes straight on to its next
  eSequenceEnd = 10,         // ")"
  eOptionalNode = 11,        // "["; node value: the first node of its content
  eOptionalEnd = 12,         // "]"
};

// The rule index of "OutOfVocabularyRule"; also the value of an out-of-vocabulary item.
constexpr int kOutOfVocabularyRule = 1;
constexpr int kReservedSilenceRule = 0;

struct FSGNodeTypeItem {
  int type;
  int value;
};
static_assert(sizeof(FSGNodeTypeItem) == 8);

// An array of items with the score and hash of a recognition result (both 0 at construction).
class FSGNodeTypeItemAC : public AC<FSGNodeTypeItem> {
 public:
  explicit FSGNodeTypeItemAC(int initial = 0, int grow = 0) : AC<FSGNodeTypeItem>(initial, grow) {}
  int add(int type, int value) { return AC<FSGNodeTypeItem>::add(FSGNodeTypeItem{type, value}); }
  using AC<FSGNodeTypeItem>::add;

  int score = 0;
  int hash = 0;
};

// One node of a rule's graph; allocated in the owning rule's arena (the root is held in the
// RuleData). value is interpreted by type (see FSGNodeType); the union names its forms.
struct FSGNode {
  FSGNode* previous;  // the node built just before this one (the rule's root for the first node)
  FSGNode* next;      // successor; for a construct, the node after the whole construct
  int type;
  union {
    std::intptr_t value;             // word or rule index
    FSGNode* node;                   // repeat: where to go back to; optional: first content node
    AlternativeData* alternative;    // eAlternativeNode
    WordTree* wordTree;              // eWordTreeNode
    OutOfVocabularyElement* oov;     // eOutOfVocabularyNode
  };
  int rule;  // index of the owning rule

  int index() const { return static_cast<int>(value); }
};

// The kinds of side objects on a rule's data list.
enum FSGNodeDataKind { eAlternativeData = 0, eWordTreeData = 1, eOutOfVocabularyData = 2 };

// A side object owned by a rule: begins with the list link and its kind; destroyed with the rule.
struct FSGNodeData : SLinkBase {
  int kind = 0;
};

// The branches of one alternative construct: single words, single rule references, and the first
// nodes of every other branch (each such chain ends at the construct's continuation).
class AlternativeData : public FSGNodeData {
 public:
  AlternativeData() : words(8, 8), rules(8, 8), branches(8, 8) { kind = eAlternativeData; }

  IC<int> words;
  IC<int> rules;
  OC<FSGNode> branches;
};

}  // namespace vlm
