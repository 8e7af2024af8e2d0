// Rule bodies: parsing into items, compiling into graphs (the graph invariants), parser messages,
// compound words made on the fly, simpleSequence and the lookUpWords seam.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "grammar_test_util.h"

namespace {

using namespace vlm;
using namespace gramtest;

class GraphTest : public ::testing::Test {
 protected:
  GraphTest() : words(1000), rules(100), dumper(words, rules) {
    addTestWords(words);
    rules.newRule("r");
    rules.newRule("s");
    resetLog();
  }

  // Parses text as the body of rule name (created when absent) and sets it; null on any failure.
  RuleData* build(const char* name, const char* text) {
    RuleData* rd = rules.getRuleData(name);
    if (rd == nullptr) rd = rules.ruleAt(rules.newRule(name));
    RuleBodyParser parser(&words, &rules);
    if (parser.loadRuleBody(text) == nullptr) return nullptr;
    if (!rd->setRuleBody(parser.items(), &words, &rules)) return nullptr;
    return rd;
  }

  std::string dump(RuleData* rd) { return dumper.dump(rd); }

  WordDictionary words;
  RuleDictionary rules;
  GraphDump dumper;
};

// Every construct of the body syntax, alone and nested: the graph in canonical form. Each graph
// has exactly one terminal, which every path reaches.
TEST_F(GraphTest, BodiesCompileToTheExpectedGraphs) {
  struct Case { const char* body; const char* graph; };
  const Case cases[] = {
      {"( a )", "0:S>1 1:W a>2 2:E"},
      {"{ a b }", "0:A{a b||}>1 1:E"},
      {"( a + )", "0:S>1 1:W a>2 2:R1>3 3:E"},
      {"( &r + )", "0:S>1 1:U r>2 2:R1>3 3:E"},
      {"( ( a b ) + c )", "0:S>1 1:S>2 2:W a>3 3:W b>4 4:R1>5 5:W c>6 6:E"},
      {"( [ a ] b )", "0:S>1 1:O2>3 2:W a>3 3:W b>4 4:E"},
      {"[ a b ]", "0:O1>3 1:W a>2 2:W b>3 3:E"},
      {"{ a &r ( b c ) d + }", "0:A{a|r|1 5}>4 1:S>2 2:W b>3 3:W c>4 4:E 5:W d>6 6:R5>4"},
      {"( a { b [ c ] } d )", "0:S>1 1:W a>2 2:A{b||3}>5 3:O4>5 4:W c>5 5:W d>6 6:E"},
      {"( { a b } + )", "0:S>1 1:A{a b||}>2 2:R1>3 3:E"},
      {"{ { a b } ( c ) + }", "0:A{||1 3}>2 1:A{a b||}>2 2:E 3:S>4 4:W c>5 5:R3>2"},
      {"{ [ a ] b }", "0:A{b||1}>3 1:O2>3 2:W a>3 3:E"},
      {"( ( a ( b ) ) c )", "0:S>1 1:S>2 2:W a>3 3:S>4 4:W b>5 5:W c>6 6:E"},
      {"( a &OutOfVocabularyRule b )", "0:S>1 1:W a>2 2:V>3 3:W b>4 4:E"},
      {"{ &OutOfVocabularyRule a }", "0:A{a||1}>2 1:V>2 2:E"},
      {"( [ [ a ] b ] c )", "0:S>1 1:O2>5 2:O3>4 3:W a>4 4:W b>5 5:W c>6 6:E"},
      {"( ( [ a ] ) + )", "0:S>1 1:S>2 2:O3>4 3:W a>4 4:R1>5 5:E"},
      {"< a &r b >", "0:T<a&r b b'>>1 1:E"},
      {"( call < a &r b > + dial )", "0:S>1 1:W call>2 2:T<a&r b b'>>3 3:R2>4 4:W dial>5 5:E"},
      {"{ yes < a > }", "0:A{yes||1}>2 1:T<a>>2 2:E"},
  };
  for (const Case& c : cases) {
    RuleData* rd = build("body", c.body);
    ASSERT_NE(rd, nullptr) << c.body << "\n" << logText();
    EXPECT_EQ(dump(rd), c.graph) << c.body;
    EXPECT_EQ(dumper.terminalCount(), 1) << c.body;
    const int rootType = c.body[0] == '(' ? eSequenceNode : c.body[0] == '{' ? eAlternativeNode
                         : c.body[0] == '[' ? eOptionalNode : eWordTreeNode;
    EXPECT_EQ(rd->root.type, rootType) << c.body;
    for (FSGNode* n : dumper.nodes()) {  // only the terminal ends; every node belongs to the rule
      EXPECT_EQ(n->next == nullptr, n->type == eTerminalNode) << c.body;
      EXPECT_EQ(n->rule, rd->index) << c.body;
    }
  }
}

TEST_F(GraphTest, RepeatAndOptionalLinks) {
  RuleData* rd = build("w", "( a + )");
  ASSERT_NE(rd, nullptr);
  FSGNode* word = rd->root.next;
  FSGNode* repeat = word->next;
  EXPECT_EQ(word->previous, &rd->root);
  EXPECT_EQ(repeat->type, eRepeatNode);
  EXPECT_EQ(repeat->node, word);
  EXPECT_EQ(repeat->previous, word);

  rd = build("q", "( ( a b ) + c )");
  ASSERT_NE(rd, nullptr);
  FSGNode* sequence = rd->root.next;
  FSGNode* bNode = sequence->next->next;
  repeat = bNode->next;
  EXPECT_EQ(repeat->node, sequence);
  EXPECT_EQ(repeat->previous, bNode);

  rd = build("o", "( [ a ] b )");
  ASSERT_NE(rd, nullptr);
  FSGNode* optional = rd->root.next;
  ASSERT_EQ(optional->type, eOptionalNode);
  EXPECT_EQ(optional->node->type, eWordNode);
  EXPECT_EQ(optional->node->next, optional->next);

  rd = build("v", "( &OutOfVocabularyRule )");
  ASSERT_NE(rd, nullptr);
  FSGNode* oov = rd->root.next;
  ASSERT_EQ(oov->type, eOutOfVocabularyNode);
  ASSERT_NE(oov->oov, nullptr);
  EXPECT_EQ(oov->oov->node, oov);
  EXPECT_EQ(oov->oov->state.terminals, &oov->oov->terminal);
  EXPECT_EQ(oov->oov->terminal.word, kOutOfVocabularyWord);
  EXPECT_EQ(oov->oov->terminal.node, oov);
}

TEST_F(GraphTest, WordTreeTakesEveryPronunciationAndItsContinuation) {
  RuleData* rd = build("t", "< a &r b >");
  ASSERT_NE(rd, nullptr);
  ASSERT_EQ(rd->root.type, eWordTreeNode);
  WordTree* tree = rd->root.wordTree;
  EXPECT_EQ(tree->owner(), &rd->root);
  struct Seen { int word; FSGNode* node; };
  std::vector<Seen> seen;
  tree->forEachWordEnd([](const WordNode*, const NodeTerminal* t, void* c) { static_cast<std::vector<Seen>*>(c)->push_back({t->word, t->node}); },
                       &seen);
  ASSERT_EQ(seen.size(), 3u);  // a, and both pronunciations of b
  int aIndex = words.getWordData("a")->index;
  WordData* b = words.getWordData("b");
  for (const Seen& s : seen) {
    if (s.word == aIndex)
      EXPECT_EQ(s.node, &rules.getRuleData("r")->root);
    else
      EXPECT_TRUE((s.word == b->index || s.word == b->nextPron) && s.node == nullptr);
  }
}

// Every text error stops the parse with its message, carrying the line number.
TEST_F(GraphTest, ParserMessages) {
  std::string deep(150, '(');
  deep += " a";
  struct Case { std::string body; const char* message; };
  const Case cases[] = {
      {"x ( a )", "body does not begin with '(' '<' '[' or '{'"},
      {"( zzz )", "No word named: zzz"},
      {"( &nosuch )", "No rule named: nosuch"},
      {"( a & )", "No rule name following '&'"},
      {"( + a )", "'+'repeat must follow a word, rule ')' '>' or '}'"},
      {"( [ a ] + )", "'+'repeat must follow a word, rule ')' '>' or '}'"},
      {"( &OutOfVocabularyRule + )", "'+'repeat must follow a word, rule ')' '>' or '}'"},
      {"{ a + + }", "'+'repeat must follow a word, rule ')' '>' or '}'"},
      {"( )", "0 length Sequence"},
      {"{ }", "0 length Alternative"},
      {"[ ]", "0 length Optional"},
      {"< >", "0 length Alternative"},
      {"( a ]", "Bad nesting? Unexpected terminal ]"},
      {"{ a ) }", "Bad nesting? Unexpected terminal )"},
      {"< a + >", "illegal construct in WordTree+"},
      {"< &r a >", "illegal construct in WordTree&"},
      {"< a &r &s >", "illegal construct in WordTree&"},
      {"< ( a ) >", "illegal construct in WordTree("},
      {"< a &OutOfVocabularyRule >", "illegal construct in WordTree&"},
      {"( a b", "Unexpected end of line"},
      {"( a : b )", "No word named: :"},
      {deep, "Rule nesting too deep"},
  };
  for (const Case& c : cases) {
    resetLog();
    RuleBodyParser parser(&words, &rules);
    EXPECT_EQ(parser.loadRuleBody(c.body.c_str()), nullptr) << c.body;
    EXPECT_NE(std::string(parser.messageText()).find(std::string("line: 0\t") + c.message), std::string::npos)
        << c.body << " gave " << parser.messageText();
    EXPECT_NE(logText().find(c.message), std::string::npos) << c.body;
  }
}

// Item arrays that do not form a body fail and leave the body empty.
TEST_F(GraphTest, BadItemArraysLeaveAnEmptyBody) {
  int a = words.getWordData("a")->index;
  struct Case { std::vector<FSGNodeTypeItem> items; const char* what; };
  const Case cases[] = {
      {{}, "empty"},
      {{{eWordNode, a}}, "no opening item"},
      {{{eSequenceNode, 0}, {eWordNode, a}}, "unclosed"},
      {{{eSequenceNode, 0}, {eWordNode, a}, {eSequenceEnd, 0}, {eWordNode, a}}, "items after the body"},
      {{{eSequenceNode, 0}, {eWordNode, a}, {eOptionalEnd, 0}}, "wrong closing item"},
      {{{eSequenceNode, 0}, {eRepeatNode, 0}, {eSequenceEnd, 0}}, "repeat of nothing"},
      {{{eSequenceNode, 0}, {eWordNode, 99999}, {eSequenceEnd, 0}}, "word index outside the dictionary"},
      {{{eSequenceNode, 0}, {eRuleNode, 77}, {eSequenceEnd, 0}}, "rule index outside the table"},
      {{{eAlternativeNode, 0}, {eAlternativeEnd, 0}}, "empty alternative"},
      {{{eOptionalNode, 0}, {eOptionalEnd, 0}}, "empty optional"},
      {{{eWordTreeNode, 0}, {eSequenceNode, 0}, {eWordTreeEnd, 0}}, "bracket in a tree"},
      {{{eSequenceNode, 0}, {eTerminalNode, 0}, {eSequenceEnd, 0}}, "terminal item"},
  };
  RuleData* rd = build("x", "{ a ( b c ) }");
  ASSERT_NE(rd, nullptr);
  for (const Case& c : cases) {
    FSGNodeTypeItemAC items;
    for (const FSGNodeTypeItem& it : c.items) items.add(it);
    EXPECT_EQ(rd->setRuleBody(items, &words, &rules), 0) << c.what;
    EXPECT_EQ(rd->root.type, eTerminalNode) << c.what;
    EXPECT_EQ(rd->root.next, nullptr) << c.what;
    EXPECT_EQ(rd->dataList, nullptr) << c.what;
    EXPECT_STREQ(rd->name, "x") << c.what;  // emptying the arena keeps the name
    EXPECT_EQ(rules.getRuleData("x"), rd) << c.what;
  }
  // A word without a usable pronunciation cannot join a word tree.
  words.addWordIfNew("sil", ".");
  RuleBodyParser parser(&words, &rules);
  ASSERT_NE(parser.loadRuleBody("< sil >"), nullptr);
  EXPECT_EQ(rd->setRuleBody(parser.items(), &words, &rules), 0);
  EXPECT_NE(logText().find("sil"), std::string::npos);
}

TEST_F(GraphTest, CompoundWordIsBuiltOnTheFly) {
  ASSERT_EQ(words.getWordData("new_york"), nullptr);
  RuleData* rd = build("place", "( new_york )");
  ASSERT_NE(rd, nullptr);
  WordData* w = words.getWordData("new_york");
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(rd->root.next->index(), w->index);
  // Each part with and without a silence in front: 4 pronunciations.
  std::vector<std::string> prons;
  for (int i = w->index; i >= 0; i = words.wordAt(i)->nextPron) prons.push_back(words.wordAt(i)->pron);
  std::sort(prons.begin(), prons.end());
  EXPECT_EQ(prons, (std::vector<std::string>{".nU.yOrk", ".nUyOrk", "nU.yOrk", "nUyOrk"}));
  // Parts that are not all words are no compound.
  RuleBodyParser parser(&words, &rules);
  EXPECT_EQ(parser.loadRuleBody("( new_zealand )"), nullptr);
  EXPECT_NE(std::string(parser.messageText()).find("No word named: new_zealand"), std::string::npos);
}

TEST_F(GraphTest, SimpleSequenceAndLookUpWords) {
  FSGNodeTypeItemAC items;
  EXPECT_EQ(RuleBodyParser::simpleSequence(&words, "  yes\tNo ", &items), 1);
  ASSERT_EQ(items.count(), 4);
  EXPECT_EQ(items[0].type, eSequenceNode);
  EXPECT_EQ(items[1].type, eWordNode);
  EXPECT_EQ(items[1].value, words.getWordData("yes")->index);
  EXPECT_EQ(items[2].value, words.getWordData("no")->index);  // found in lower case
  EXPECT_EQ(items[3].type, eSequenceEnd);

  FSGNodeTypeItemAC partial;
  EXPECT_EQ(RuleBodyParser::simpleSequence(&words, "yes maybe no", &partial), 0);
  EXPECT_EQ(partial.count(), 2);  // what was appended before the unknown word stays

  // The lexicon converts looked-up text into items through simpleSequence.
  FSGNodeTypeItemAC looked;
  char out[256];
  ASSERT_NE(words.lookUpWords(out, "Yes no", sizeof out, &looked), nullptr);
  ASSERT_EQ(looked.count(), 4);
  EXPECT_EQ(looked[1].value, words.getWordData("yes")->index);
  EXPECT_EQ(looked[3].type, eSequenceEnd);

  // A sequence built from items compiles like a parsed one.
  RuleData* rd = rules.ruleAt(rules.newRule("said"));
  ASSERT_EQ(rd->setRuleBody(items, &words, &rules), 1);
  EXPECT_EQ(dump(rd), "0:S>1 1:W yes>2 2:W no>3 3:E");
}

}  // namespace
