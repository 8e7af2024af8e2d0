// Writing a rule's graph back as body text.
#define VLM_UNIT "recog"
#include <errno.h>
#include <unistd.h>

#include <cstring>

#include "foundation/log.h"
#include "grammar/ruledict.h"
#include "grammar/ruleparser.h"
#include "lexicon/worddict.h"
#include "search/wordtree.h"

namespace vlm {

void RuleBodyParser::setOutput(int file) {
  flushOutput();
  outFd = file;
  outFailed = 0;
}

int RuleBodyParser::flushOutput() {
  const char* p = outBuffer;
  int left = outUsed;
  while (left > 0 && outFd >= 0 && !outFailed) {
    ssize_t n = write(outFd, p, static_cast<std::size_t>(left));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      outFailed = 1;
      break;
    }
    p += n;
    left -= static_cast<int>(n);
  }
  outUsed = 0;
  return !outFailed;
}

void RuleBodyParser::out(const char* text, const char* second) {
  // The reader takes lines in pieces of at most 1023 characters, so a long line is broken before
  // a piece that begins with a space (always a token boundary of the body syntax).
  if (text != nullptr && text[0] == ' ' && outColumn > kWrapColumn) out("\n\t");
  const char* parts[2] = {text, second};
  for (const char* t : parts) {
    if (t == nullptr) continue;
    while (*t) {
      if (outUsed == static_cast<int>(sizeof outBuffer)) flushOutput();
      outColumn = *t == '\n' ? 0 : outColumn + 1;
      outBuffer[outUsed++] = *t++;
    }
  }
}

const char* RuleBodyParser::wordName(int index) const { return wordDictionary->nameOf(index); }

const char* RuleBodyParser::ruleName(int index) const {
  RuleData* rd = ruleDictionary->ruleAt(index);
  return rd ? rd->name : nullptr;
}

namespace {

// A repeat node that closes a repeated sequence (its value is the sequence's start node) rather
// than repeating the single node before it.
bool repeatsSequence(const FSGNode* node) {
  return node->type == eRepeatNode && node->node != nullptr && node->node != node->previous &&
         node->node->type == eSequenceNode;
}

}  // namespace

FSGNode* RuleBodyParser::writeSequence(FSGNode* node, FSGNode* stop, int nested) {
  const char* separator = nested ? " " : "\n\t";
  out(separator, " (");
  FSGNode* current = node->next;
  while (current != nullptr && current != stop && current->type != eTerminalNode) {
    switch (current->type) {
      case eWordNode:
        if (const char* name = wordName(current->index())) out(separator, name);
        current = current->next;
        break;
      case eOutOfVocabularyNode:
        out(separator, "&OutOfVocabularyRule");
        current = current->next;
        break;
      case eRuleNode:
        if (const char* name = ruleName(current->index())) {
          out(separator, "&");
          out(name);
        }
        current = current->next;
        break;
      case eRepeatNode:
        if (repeatsSequence(current)) {
          if (nested) {  // the end of this repeated sequence: the caller writes the "+"
            out(" )");
            return current;
          }
          VLM_ASSERT(current->node->type == eSequenceNode, "currentNode->node->type == eSequenceNode");
        }
        out(" +");
        current = current->next;
        break;
      case eAlternativeNode:
        current = writeAlternative(current, current->next, nested + 1);
        break;
      case eWordTreeNode:
        current = writeWordTree(current, current->next, nested + 1);
        break;
      case eSequenceNode: {
        FSGNode* stopped = writeSequence(current, stop, nested + 1);
        if (stopped != nullptr && stopped->type == eRepeatNode && stopped->node == current) {
          out(" +");
          current = stopped->next;
        } else {
          current = stopped;  // the end of the body, or the repeat of an enclosing sequence
        }
        break;
      }
      case eOptionalNode:
        current = writePrimitiveSequence(current, current->next, nested + 1);
        break;
      default:
        VLM_ASSERT(1 == 0, "1 == 0");
        current = current->next;
        break;
    }
  }
  out(separator, ")");
  return current;
}

FSGNode* RuleBodyParser::writePrimitiveSequence(FSGNode* node, FSGNode* stop, int nested) {
  FSGNode* current = node;
  int words = 0;
  while (current != nullptr && current != stop && current->type != eTerminalNode) {
    switch (current->type) {
      case eWordNode:
        if (const char* name = wordName(current->index())) {
          if (words > 0 && words % 10 == 0) out("\n\t");
          out(" ", name);
          words++;
        }
        current = current->next;
        break;
      case eOutOfVocabularyNode:
        out(" &OutOfVocabularyRule");
        current = current->next;
        break;
      case eRuleNode:
        if (const char* name = ruleName(current->index())) out(" &", name);
        current = current->next;
        break;
      case eRepeatNode:
        if (repeatsSequence(current)) return current;  // closes a sequence opened by a caller
        out(" +");
        current = current->next;
        break;
      case eOptionalNode:
        out(" [");
        writePrimitiveSequence(current->node, current->next, nested + 1);
        out(" ]");
        current = current->next;
        break;
      case eAlternativeNode:
        current = writeAlternative(current, current->next, nested + 1);
        break;
      case eWordTreeNode:
        current = writeWordTree(current, current->next, nested + 1);
        break;
      case eSequenceNode: {
        FSGNode* stopped = writeSequence(current, stop, nested + 1);
        if (stopped != nullptr && stopped->type == eRepeatNode && stopped->node == current) {
          out(" +");
          current = stopped->next;
        } else {
          current = stopped;
        }
        break;
      }
      default:
        VLM_ASSERT(1 == 0, "1 == 0");
        current = current->next;
        break;
    }
  }
  return current;
}

FSGNode* RuleBodyParser::writeAlternative(FSGNode* node, FSGNode* next, int nested) {
  const char* separator = nested ? " " : "\n\t";
  out(" {");
  AlternativeData* alternative = node->alternative;
  if (alternative != nullptr) {
    for (int i = 0; i < alternative->words.count(); i++)
      if (const char* name = wordName(alternative->words[i])) out(separator, name);
    for (int i = 0; i < alternative->rules.count(); i++)
      if (const char* name = ruleName(alternative->rules[i])) {
        out(separator, "&");
        out(name);
      }
    for (int i = 0; i < alternative->branches.count(); i++) {
      if (!nested) out("\n\t");
      writePrimitiveSequence(alternative->branches[i], next, nested + 1);
    }
  }
  out(separator, "}");
  return node->next;
}

namespace {

struct TreeWriting {
  RuleBodyParser* writer;
  WordDictionary* words;
  RuleDictionary* rules;
  const WordNode* state;             // the state whose word ends are gathered
  OC<NodeTerminal>* gathered;  // its word ends that are primary pronunciations
};

const char* continuationName(const TreeWriting* w, const NodeTerminal* t) {
  if (t->node == nullptr) return nullptr;
  RuleData* rd = w->rules->ruleAt(t->node->rule);
  return rd ? rd->name : nullptr;
}

// Writes the gathered word ends of one state sorted by word and continuation, so that a tree
// written, read back and written again gives the same text whatever order its word ends took.
void flushTreeWords(TreeWriting* w) {
  OC<NodeTerminal>& list = *w->gathered;
  for (int i = 1; i < list.count(); i++) {
    for (int j = i; j > 0; j--) {
      const NodeTerminal* a = list[j - 1];
      const NodeTerminal* b = list[j];
      int order = std::strcmp(w->words->nameOf(a->word), w->words->nameOf(b->word));
      if (order == 0) {
        const char* an = continuationName(w, a);
        const char* bn = continuationName(w, b);
        order = std::strcmp(an ? an : "", bn ? bn : "");
      }
      if (order <= 0) break;
      list.setEntry(j - 1, const_cast<NodeTerminal*>(b));
      list.setEntry(j, const_cast<NodeTerminal*>(a));
    }
  }
  for (const NodeTerminal* t : list) {
    w->writer->out("\n\t\t\t", w->words->nameOf(t->word));
    if (const char* name = continuationName(w, t)) w->writer->out(" &", name);
  }
  list.removeAll();
}

void writeTreeWord(const WordNode* state, const NodeTerminal* terminal, void* context) {
  auto* w = static_cast<TreeWriting*>(context);
  if (state != w->state) {
    flushTreeWords(w);
    w->state = state;
  }
  WordData* record = w->words->wordAt(terminal->word);
  if (record == nullptr || !record->isPrimary()) return;  // loading a word adds all its pronunciations
  w->gathered->add(const_cast<NodeTerminal*>(terminal));
}

}  // namespace

void RuleBodyParser::primitiveWriteWordTree(FSGNode* node) {
  if (node->wordTree == nullptr) return;
  OC<NodeTerminal> gathered(8, 8);
  TreeWriting context{this, wordDictionary, ruleDictionary, nullptr, &gathered};
  node->wordTree->forEachWordEnd(writeTreeWord, &context);
  flushTreeWords(&context);
}

FSGNode* RuleBodyParser::writeWordTree(FSGNode* node, FSGNode* next, int nested) {
  out(" <");
  primitiveWriteWordTree(node);
  out(nested ? "\n\t\t" : "\n\t", ">");
  return node->next;
}

void RuleBodyParser::writeRuleBody(RuleData* rule) {
  FSGNode* root = &rule->root;
  switch (root->type) {
    case eSequenceNode: writeSequence(root, nullptr, 0); break;
    case eAlternativeNode: writeAlternative(root, root->next, 0); break;
    case eWordTreeNode: writeWordTree(root, root->next, 0); break;
    case eOptionalNode: writePrimitiveSequence(root, nullptr, 0); break;
    default:
      VLM_ASSERT(root->type == eTerminalNode, "currentNode->type == eTerminalNode");
      out(" ;\n\n");  // an empty body
      break;
  }
}

}  // namespace vlm
