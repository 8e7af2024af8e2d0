// Compiling a rule body's items into the rule's graph (RuleData::setRuleBody), and emptying it.
#define VLM_UNIT "recog"
#include <cstring>
#include <new>

#include "foundation/copystr.h"
#include "foundation/log.h"
#include "foundation/ordcoll.h"
#include "grammar/ruledict.h"
#include "lexicon/worddict.h"
#include "search/wordtree.h"

namespace vlm {

namespace {

bool isOpening(int type) {
  return type == eSequenceNode || type == eAlternativeNode || type == eWordTreeNode || type == eOptionalNode;
}

// The construct type a closing item ends.
int openingOf(int type) {
  switch (type) {
    case eSequenceEnd: return eSequenceNode;
    case eAlternativeEnd: return eAlternativeNode;
    case eWordTreeEnd: return eWordTreeNode;
    case eOptionalEnd: return eOptionalNode;
    default: return -1;
  }
}

// One build of a rule's graph: the current (allocated, still empty) node, the node whose next is
// the current node on the main line of the innermost construct, the last repeatable item, the
// stack of open constructs and the stack of pending ends (branch ends and optional content ends
// whose next becomes their construct's continuation when the build is finished).
class GraphBuilder {
 public:
  GraphBuilder(RuleData* rule, const FSGNodeTypeItemAC& items, WordDictionary* words, RuleDictionary* rules)
      : rd(rule), items(items), n(items.count()), words(words), rules(rules), open(8, 8), pending(8, 8) {}

  int build();

 private:
  FSGNode* fill(int type);
  bool attachData(FSGNode* node);
  bool sequenceItem();
  bool alternativeItem();
  bool wordTreeItem();
  bool closeItem();
  void endBranch();
  bool validWord(int index) const { return words->wordAt(index) != nullptr; }
  bool validRule(int index) const {
    RuleData* r = rules->ruleAt(index);
    return r != nullptr;
  }
  int typeAt(int k) const { return k < n ? items[k].type : -1; }

  RuleData* rd;
  const FSGNodeTypeItemAC& items;
  int n;
  WordDictionary* words;
  RuleDictionary* rules;
  Stack<FSGNode> open;
  Stack<FSGNode> pending;
  FSGNode* current = nullptr;
  FSGNode* tail = nullptr;
  FSGNode* last = nullptr;
  int i = 0;
  bool finished = false;
};

FSGNode* GraphBuilder::fill(int type) {
  FSGNode* filled = current;
  FSGNode* following = rd->newNode(filled);
  if (following == nullptr) return nullptr;
  filled->type = type;
  filled->value = 0;
  filled->next = following;
  current = following;
  tail = filled;
  return filled;
}

// Gives a new alternative or word-tree node its side object, linked into the rule's data list.
bool GraphBuilder::attachData(FSGNode* node) {
  FSGNodeData* data = nullptr;
  if (node->type == eAlternativeNode) {
    auto* alternative = new (std::nothrow) AlternativeData;
    node->alternative = alternative;
    data = alternative;
  } else if (node->type == eWordTreeNode) {
    auto* tree = new (std::nothrow) WordTree(node);
    node->wordTree = tree;
    data = tree;
  } else {
    return true;
  }
  if (data == nullptr) return false;
  data->next = rd->dataList;
  rd->dataList = data;
  return true;
}

void GraphBuilder::endBranch() {
  tail->next = open.top();
  pending.push(tail);
}

bool GraphBuilder::sequenceItem() {
  const FSGNodeTypeItem item = items[i];
  FSGNode* node;
  switch (item.type) {
    case eWordNode:
    case eRuleNode:
      if (item.type == eWordNode ? !validWord(item.value) : !validRule(item.value)) return false;
      if ((node = fill(item.type)) == nullptr) return false;
      node->value = item.value;
      last = node;
      break;
    case eOutOfVocabularyNode: {
      if ((node = fill(eOutOfVocabularyNode)) == nullptr) return false;
      void* memory = rd->arena->allocate(sizeof(OutOfVocabularyElement));
      if (memory == nullptr) return false;
      auto* element = new (memory) OutOfVocabularyElement;
      std::memset(static_cast<void*>(&element->state), 0, sizeof element->state);
      element->kind = eOutOfVocabularyData;
      element->relativeScore = 0;
      element->node = node;
      element->terminal = NodeTerminal{nullptr, kOutOfVocabularyWord, node, 0, 0, 0};
      element->state.terminals = &element->terminal;
      element->next = rd->dataList;
      rd->dataList = element;
      node->oov = element;
      last = nullptr;  // the out-of-vocabulary element is not repeated
      break;
    }
    case eRepeatNode:
      if (last == nullptr) return false;
      if ((node = fill(eRepeatNode)) == nullptr) return false;
      node->node = last;
      last = nullptr;
      break;
    case eSequenceNode:
    case eOptionalNode:
    case eAlternativeNode:
    case eWordTreeNode:
      if ((node = fill(item.type)) == nullptr || !attachData(node)) return false;
      open.push(node);
      last = nullptr;
      break;
    case eSequenceEnd:
    case eOptionalEnd:
    case eAlternativeEnd:
    case eWordTreeEnd:
      return closeItem();
    default:
      return false;
  }
  i++;
  return true;
}

bool GraphBuilder::alternativeItem() {
  const FSGNodeTypeItem item = items[i];
  AlternativeData* alternative = open.top()->alternative;
  switch (item.type) {
    case eWordNode:
    case eRuleNode:
      if (item.type == eWordNode ? !validWord(item.value) : !validRule(item.value)) return false;
      if (typeAt(i + 1) != eRepeatNode) {  // a plain word or rule is an entry of the lists
        if (item.type == eWordNode)
          alternative->words.add(item.value);
        else
          alternative->rules.add(item.value);
        i++;
        return true;
      }
      alternative->branches.add(current);
      if (!sequenceItem() || !sequenceItem()) return false;
      endBranch();
      return true;
    case eOutOfVocabularyNode:
      VLM_ASSERT(typeAt(i + 1) != eRepeatNode, "item[ 1 ].type != eRepeatNode");
      if (typeAt(i + 1) == eRepeatNode) return false;
      alternative->branches.add(current);
      if (!sequenceItem()) return false;
      endBranch();
      return true;
    case eSequenceNode:
    case eOptionalNode:
    case eAlternativeNode:
    case eWordTreeNode:
      alternative->branches.add(current);
      return sequenceItem();  // the branch ends when its construct closes
    case eAlternativeEnd:
      return closeItem();
    default:
      return false;
  }
}

bool GraphBuilder::wordTreeItem() {
  const FSGNodeTypeItem item = items[i];
  if (item.type == eWordTreeEnd) return closeItem();
  if (item.type != eWordNode || !validWord(item.value)) return false;
  FSGNode* continuation = nullptr;
  if (typeAt(i + 1) == eRuleNode) {
    if (!validRule(items[i + 1].value)) return false;
    continuation = &rules->ruleAt(items[i + 1].value)->root;
  }
  WordTree* tree = open.top()->wordTree;
  // Every pronunciation of the word: the primary record and its chain of alternatives.
  WordData* w = words->wordAt(item.value);
  if (!w->isPrimary()) {
    WordData* primary = words->getWordData(w->name);
    if (primary != nullptr) w = primary;
  }
  for (int index = w->index; index >= 0;) {
    WordData* record = words->wordAt(index);
    if (record == nullptr) break;
    if (tree->addWord(record, continuation) < 0) {
      logError("No usable pronunciation for word tree: ", record->name);
      return false;
    }
    index = record->nextPron;
  }
  i += continuation != nullptr ? 2 : 1;
  return true;
}

bool GraphBuilder::closeItem() {
  const int type = items[i].type;
  FSGNode* construct = open.top();
  if (construct == nullptr || construct->type != openingOf(type)) return false;
  const bool empty = items[i - 1].type == construct->type;  // nothing between the brackets
  switch (type) {
    case eSequenceEnd:
      last = construct;
      break;
    case eOptionalEnd:
      if (empty) return false;
      tail->next = construct;
      pending.push(tail);
      construct->node = construct->next;  // the first node of the content
      construct->next = current;
      tail = construct;
      last = nullptr;  // an optional part is not repeated
      break;
    case eAlternativeEnd:
    case eWordTreeEnd:
      if (empty) return false;
      construct->next = current;
      tail = construct;
      last = construct;
      break;
  }
  open.pop();
  i++;
  if (open.isEmpty()) {
    finished = true;
    return i == n;  // the items must be used up
  }
  if (open.top()->type == eAlternativeNode) {  // the closed construct was a branch
    if (typeAt(i) == eRepeatNode && !sequenceItem()) return false;
    endBranch();
  }
  return true;
}

int GraphBuilder::build() {
  if (n == 0 || !isOpening(items[0].type)) return 0;
  FSGNode* root = &rd->root;
  root->type = items[0].type;
  root->value = 0;
  root->previous = nullptr;
  root->rule = rd->index;
  if (!attachData(root)) return 0;
  current = rd->newNode(root);
  if (current == nullptr) return 0;
  root->next = current;
  tail = root;
  open.push(root);
  i = 1;
  while (i < n && !finished) {
    bool ok;
    switch (open.top()->type) {
      case eAlternativeNode: ok = alternativeItem(); break;
      case eWordTreeNode: ok = wordTreeItem(); break;
      default: ok = sequenceItem(); break;
    }
    if (!ok) return 0;
  }
  if (!finished) return 0;
  current->type = eTerminalNode;
  current->value = 0;
  current->next = nullptr;
  // Each branch end and optional content end now leads to its construct's continuation; inner
  // ends were pushed before the ends of the constructs around them.
  while (FSGNode* end = pending.pop()) end->next = end->next->next;
  return 1;
}

}  // namespace

FSGNode* RuleData::newNode(FSGNode* previous) {
  void* memory = arena->allocate(sizeof(FSGNode));
  if (memory == nullptr) return nullptr;
  auto* node = static_cast<FSGNode*>(memory);
  std::memset(static_cast<void*>(node), 0, sizeof *node);
  node->previous = previous;
  node->rule = index;
  return node;
}

void RuleData::destroyDataList() {
  while (FSGNodeData* data = dataList) {
    dataList = static_cast<FSGNodeData*>(data->next);
    switch (data->kind) {
      case eAlternativeData: delete static_cast<AlternativeData*>(data); break;
      case eWordTreeData: delete static_cast<WordTree*>(data); break;
      case eOutOfVocabularyData: break;  // lives in the arena
      default: VLM_ASSERT(1 == 0, "1 == 0"); break;
    }
  }
}

void RuleData::clearBody() {
  root.next = nullptr;
  destroyDataList();
  root.type = eTerminalNode;
  root.value = index;
  // Emptying the arena rewinds it to its first block, where the name lives: keep a copy and put
  // the name back first.
  char* saved = copyString(name ? name : "");
  arena->empty();
  int length = static_cast<int>(std::strlen(saved)) + 1;
  char* kept = static_cast<char*>(arena->allocate(static_cast<std::size_t>((length + 3) & ~3)));
  if (kept != nullptr) {
    std::memcpy(kept, saved, static_cast<std::size_t>(length));
    name = kept;
  }
  delete[] saved;
}

int RuleData::setRuleBody(const FSGNodeTypeItemAC& items, WordDictionary* words, RuleDictionary* rules) {
  if (words == nullptr || rules == nullptr || arena == nullptr) return 0;
  GraphBuilder builder(this, items, words, rules);
  if (builder.build()) return 1;
  clearBody();
  return 0;
}

}  // namespace vlm
