// The letter-to-sound tables: the 27 rewrite-rule blocks, the number names and the names of
// characters for spelling. All texts are phone strings of the phone set.
//
// Each rule block is stored as one text: the four fields of every rule (left context, match,
// right context, phones) each followed by a tab, the block ended by two empty fields (a tab and
// the end of the text). The texts are kept in writable arrays because the first use of the
// translator splits them in place, every tab becoming a NUL (see prepareRules in xlate.cpp).
// In the phones, a single space is a word break and an empty text produces nothing.
#define VLM_UNIT "xlate"
#include "lexicon/xlate.h"

namespace vlm {
namespace xlatetab {


// other: 22 rules
static char kBlockOther[] =
    "\t_\t\t \t"
    "\t-\t\t\t"
    ".\t's\t\tz\t"
    "#:.e\t's\t\tz\t"
    "#\t's\t\tz\t"
    "\t'\t\t\t"
    "\t,_\t\t \t"
    "\t.\t\t \t"
    "\t?\t\t \t"
    "\t!\t\t \t"
    "\t\\\t\t\t"
    "\t&\t\tN\t"
    "\t0\t\tzir0w\t"
    "\t1\t\twun\t"
    "\t2\t\ttUw\t"
    "\t3\t\tTrE\t"
    "\t4\t\tfOr\t"
    "\t5\t\tfoEv\t"
    "\t6\t\tsiks\t"
    "\t7\t\tsevN\t"
    "\t8\t\tAt\t"
    "\t9\t\tnoEn\t"
    "\t";

// a: 34 rules
static char kBlock_a[] =
    "\ta\t_\t@\t"
    "_\tare\t_\tor\t"
    "_\tar\to\t@r\t"
    "\tar\t#\ter\t"
    "^\tas\t#\tAs\t"
    "\ta\twa\t@\t"
    "\taw\t\to\t"
    "_:\tany\t\tenY\t"
    "\ta\t^+#\tA\t"
    "#:\tally\t\tLY\t"
    "_\tal\t#\tL\t"
    "\tagain\t\t@gen\t"
    "#:\tag\te\tij\t"
    "\ta\t^+:#\ta\t"
    "_:\ta\t^+_\tA\t"
    "\ta\t^%\tA\t"
    "_\tarr\t\tR\t"
    "\tarr\t\tar\t"
    "_:\tar\t_\tor\t"
    "\tar\t_\tR\t"
    "\tar\t\tor\t"
    "\tair\t\ter\t"
    "\tai\t\tA\t"
    "\tay\t\tA\t"
    "\tau\t\to\t"
    "#:\tal\t_\tL\t"
    "#:\tals\t_\tLz\t"
    "\talk\t\tok\t"
    "\tal\t^\tol\t"
    "_:\table\t\tAbL\t"
    "\table\t\t@bL\t"
    "\tang\t+\tAnj\t"
    "^\ta\t^#\tA\t"
    "\ta\t\ta\t"
    "\t";

// b: 6 rules
static char kBlock_b[] =
    "_\tbe\t^#\tbi\t"
    "\tbeing\t\tbEi~\t"
    "_\tboth\t_\tbOT\t"
    "_\tbus\t#\tbiz\t"
    "\tbuil\t\tbil\t"
    "\tb\t\tb\t"
    "\t";

// c: 11 rules
static char kBlock_c[] =
    "_\tch\t^\tk\t"
    "^e\tch\t\tk\t"
    "\tch\t\tC\t"
    "_s\tci\t#\tsoE\t"
    "\tci\ta\tS\t"
    "\tci\to\tS\t"
    "\tci\ten\tS\t"
    "\tc\t+\ts\t"
    "\tck\t\tk\t"
    "\tcom\t%\tkum\t"
    "\tc\t\tk\t"
    "\t";

// d: 10 rules
static char kBlock_d[] =
    "#:\tded\t_\tdcd\t"
    ".e\td\t_\td\t"
    "#:^e\td\t_\tt\t"
    "_\tde\t^#\td:\t"
    "_\tdo\t_\tdU\t"
    "_\tdoes\t\tduz\t"
    "_\tdoing\t\tdU:~\t"
    "_\tdow\t\td?\t"
    "\tdu\ta\tjU\t"
    "\td\t\td\t"
    "\t";

// e: 52 rules
static char kBlock_e[] =
    "#:\te\t_\t\t"
    "':^\te\t_\t\t"
    "_:\te\t_\tE\t"
    "#\ted\t_\td\t"
    "#:\te\td_\t\t"
    "\tev\ter\tev\t"
    "\te\t^%\tE\t"
    "\teri\t#\tirY\t"
    "\teri\t\ter:\t"
    "#:\ter\t#\tR\t"
    "\ter\t#\ter\t"
    "\ter\t\tR\t"
    "_\teven\t\tYven\t"
    "#:\te\tw\t\t"
    "t\tew\t\tU\t"
    "s\tew\t\tU\t"
    "r\tew\t\tU\t"
    "d\tew\t\tU\t"
    "l\tew\t\tU\t"
    "z\tew\t\tU\t"
    "n\tew\t\tU\t"
    "j\tew\t\tU\t"
    "th\tew\t\tU\t"
    "ch\tew\t\tU\t"
    "sh\tew\t\tU\t"
    "\tew\t\tyU\t"
    "\te\to\tE\t"
    "#:s\tes\t_\t:z\t"
    "#:c\tes\t_\t:z\t"
    "#:g\tes\t_\t:z\t"
    "#:z\tes\t_\t:z\t"
    "#:x\tes\t_\t:z\t"
    "#:j\tes\t_\t:z\t"
    "#:ch\tes\t_\t:z\t"
    "#:sh\tes\t_\t:z\t"
    "#:\te\ts_\t\t"
    "#:\tely\t_\tlY\t"
    "#:\tement\t\tment\t"
    "\teful\t\tfL\t"
    "\tee\t\tE\t"
    "\tearn\t\tPn\t"
    "_\tear\t^\tR\t"
    "\tead\t\ted\t"
    "#:\tea\t_\tY@\t"
    "\tea\tsu\te\t"
    "\tea\t\tE\t"
    "\teigh\t\tA\t"
    "\tei\t\tE\t"
    "_\teye\t\toE\t"
    "\tey\t\tY\t"
    "\teu\t\tyU\t"
    "\te\t\te\t"
    "\t";

// f: 2 rules
static char kBlock_f[] =
    "\tful\t\tfL\t"
    "\tf\t\tf\t"
    "\t";

// g: 10 rules
static char kBlock_g[] =
    "\tgiv\t\tgiv\t"
    "_\tg\ti^\tg\t"
    "\tge\tt\tge\t"
    "su\tgges\t\tgjes\t"
    "\tgg\t\tg\t"
    "_b#\tg\t\tg\t"
    "\tg\t+\tj\t"
    "\tgreat\t\tgrAt\t"
    "#\tgh\t\t\t"
    "\tg\t\tg\t"
    "\t";

// h: 6 rules
static char kBlock_h[] =
    "_\thav\t\thav\t"
    "_\there\t\thir\t"
    "_\thour\t\t?R\t"
    "\thow\t\th?\t"
    "\th\t#\th\t"
    "\th\t\t\t"
    "\t";

// i: 31 rules
static char kBlock_i[] =
    "_\tiain\t_\tYAn\t"
    "_\ting\t_\t:~\t"
    "_\tin\t\tin\t"
    "_\ti\t_\toE\t"
    "\tin\td\toEn\t"
    "\tier\t\tYR\t"
    "#:r\tied\t\tYd\t"
    "\tied\t_\toEd\t"
    "\tien\t\tYN\t"
    "\tie\tt\toE@\t"
    "_:\ti\t%\toE\t"
    "\ti\t%\tY\t"
    "\tie\t\tE\t"
    "\ti\t^+:#\ti\t"
    "\tir\t#\toEr\t"
    "\tiz\t%\toEz\t"
    "\tis\t%\toEz\t"
    "\ti\td%\toE\t"
    "+^\ti\t^+\ti\t"
    "\ti\tt%\toE\t"
    "#:^\ti\t^+\ti\t"
    "\ti\t^+\toE\t"
    "\tir\t\tR\t"
    "\tigh\t\toE\t"
    "\tild\t\toEld\t"
    "\tign\t_\toEn\t"
    "\tign\t^\toEn\t"
    "\tign\t%\toEn\t"
    "\tique\t\tEk\t"
    "^\ti\t^#\toE\t"
    "\ti\t\ti\t"
    "\t";

// j: 1 rules
static char kBlock_j[] =
    "\tj\t\tj\t"
    "\t";

// k: 2 rules
static char kBlock_k[] =
    "_\tk\tn\t\t"
    "\tk\t\tk\t"
    "\t";

// l: 5 rules
static char kBlock_l[] =
    "\tlo\tc#\tl0\t"
    "l\tl\t\t\t"
    "#:^\tl\t%\tL\t"
    "\tlead\t\tlEd\t"
    "\tl\t\tl\t"
    "\t";

// m: 3 rules
static char kBlock_m[] =
    "\tmov\t\tmUv\t"
    "#\tmm\t#\tm\t"
    "\tm\t\tm\t"
    "\t";

// n: 9 rules
static char kBlock_n[] =
    "e\tng\t+\tnj\t"
    "\tng\tr\t~g\t"
    "\tng\t#\t~g\t"
    "\tngl\t%\t~gL\t"
    "\tng\t\t~\t"
    "\tnk\t\t~k\t"
    "_\tnow\t_\tn?\t"
    "#\tng\t_\t~\t"
    "\tn\t\tn\t"
    "\t";

// o: 48 rules
static char kBlock_o[] =
    "\tof\t_\t@v\t"
    "\torough\t\tR0w\t"
    "#:\tor\t_\tR\t"
    "#:\tors\t_\tRz\t"
    "\tor\t\tOr\t"
    "_\tone\t\twun\t"
    "\tow\t\tOw\t"
    "_\tover\t\tOvR\t"
    "\tov\t\t@v\t"
    "\to\t^%\tO\t"
    "\to\t^en\tO\t"
    "\to\t^i#\tO\t"
    "\tol\td\tOl\t"
    "\tought\t\tot\t"
    "\tough\t\tuf\t"
    "_\tou\t\t?\t"
    "h\tou\ts#\t?\t"
    "\tous\t\t@s\t"
    "\tour\t\t8r\t"
    "\tould\t\t8d\t"
    "^\tou\t^l\t?\t"
    "\toup\t\tUp\t"
    "\tou\t\t?\t"
    "\toy\t\tOY\t"
    "\toing\t\tO:~\t"
    "\toi\t\tOY\t"
    "\toor\t\tOr\t"
    "\took\t\t8k\t"
    "\tood\t\t8d\t"
    "\too\t\tU\t"
    "\to\te\tO\t"
    "\to\t_\tO\t"
    "\toa\t\tO\t"
    "_\tonly\t\tOnlY\t"
    "_\tonce\t\twuns\t"
    "\ton't\t\tOnt\t"
    "c\to\tn\to\t"
    "\to\tng\to\t"
    "_:^\to\tn\tu\t"
    "i\ton\t\tN\t"
    "#:\ton\t_\tN\t"
    "#^\ton\t\tN\t"
    "\to\tst_\to\t"
    "\tof\t^\tof\t"
    "\tother\t\tuDR\t"
    "\toss\t_\tos\t"
    "#:^\tom\t\tM\t"
    "\to\t\to\t"
    "\t";

// p: 5 rules
static char kBlock_p[] =
    "\tph\t\tf\t"
    "\tpeop\t\tpEp\t"
    "\tpow\t\tp?\t"
    "\tput\t_\tp8t\t"
    "\tp\t\tp\t"
    "\t";

// q: 4 rules
static char kBlock_q[] =
    "\tquar\t\tkwor\t"
    "\tque\t\tk\t"
    "\tqu\t\tkw\t"
    "\tq\t\tk\t"
    "\t";

// r: 2 rules
static char kBlock_r[] =
    "_\tre\t^#\trY\t"
    "\tr\t\tr\t"
    "\t";

// s: 23 rules
static char kBlock_s[] =
    "\tsh\t\tS\t"
    "#\tsion\t\tZN\t"
    "\tsome\t\tsM\t"
    "#\tsur\t#\tZR\t"
    "\tsur\t#\tSR\t"
    "#\tsu\t#\tZU\t"
    "#\tssu\t#\tSU\t"
    "#\tsed\t_\tzd\t"
    "#\ts\t#\tz\t"
    "\tsaid\t\tsed\t"
    "^\tsion\t\tSN\t"
    "\ts\ts\t\t"
    ".\ts\t_\tz\t"
    "#:.e\ts\t_\tz\t"
    "#:^##\ts\t_\tz\t"
    "#:^#\ts\t_\ts\t"
    "u\ts\t_\ts\t"
    "_:#\ts\t_\tz\t"
    "_\tsch\t\tsk\t"
    "\ts\tc+\t\t"
    "#\tsm\t\tzm\t"
    "#\tsn\t'\tzN\t"
    "\ts\t\ts\t"
    "\t";

// t: 26 rules
static char kBlock_t[] =
    "_\tthe\t_\tD@\t"
    "\tto\t_\ttUw\t"
    "\tthat\t_\tDat\t"
    "_\tthis\t_\tDis\t"
    "_\tthey\t\tDA\t"
    "_\tthere\t\tDer\t"
    "\tther\t\tDR\t"
    "\ttheir\t\tDer\t"
    "_\tthan\t_\tDan\t"
    "_\tthem\t_\tDem\t"
    "\tthese\t_\tDEz\t"
    "_\tthen\t\tDen\t"
    "\tthrough\t\tTrU\t"
    "\tthose\t\tDOz\t"
    "\tthough\t_\tDO\t"
    "_\tthus\t\tDus\t"
    "\tth\t\tT\t"
    "#:\tted\t_\tt:d\t"
    "s\tti\t#n\tC\t"
    "\tti\to\tS\t"
    "\tti\ta\tS\t"
    "\ttien\t\tSN\t"
    "\ttur\t#\tCR\t"
    "\ttu\ta\tCU\t"
    "_\ttwo\t\ttU\t"
    "\tt\t\tt\t"
    "\t";

// u: 35 rules
static char kBlock_u[] =
    "_\tun\ti\tyUn\t"
    "_\tun\t\tun\t"
    "_\tupon\t\t@pon\t"
    "t\tur\t#\t8r\t"
    "s\tur\t#\t8r\t"
    "r\tur\t#\t8r\t"
    "d\tur\t#\t8r\t"
    "l\tur\t#\t8r\t"
    "z\tur\t#\t8r\t"
    "n\tur\t#\t8r\t"
    "j\tur\t#\t8r\t"
    "th\tur\t#\t8r\t"
    "ch\tur\t#\t8r\t"
    "sh\tur\t#\t8r\t"
    "\tur\t#\ty8r\t"
    "\tur\t\tR\t"
    "\tu\t^_\tu\t"
    "\tu\t^^\tu\t"
    "\tuy\t\toE\t"
    "_g\tu\t#\t\t"
    "g\tu\t%\t\t"
    "g\tu\t#\tw\t"
    "#n\tu\t\tyU\t"
    "t\tu\t\tU\t"
    "s\tu\t\tU\t"
    "r\tu\t\tU\t"
    "d\tu\t\tU\t"
    "l\tu\t\tU\t"
    "z\tu\t\tU\t"
    "n\tu\t\tU\t"
    "j\tu\t\tU\t"
    "th\tu\t\tU\t"
    "ch\tu\t\tU\t"
    "sh\tu\t\tU\t"
    "\tu\t\tyU\t"
    "\t";

// v: 2 rules
static char kBlock_v[] =
    "\tview\t\tvyU\t"
    "\tv\t\tv\t"
    "\t";

// w: 13 rules
static char kBlock_w[] =
    "_\twere\t\twR\t"
    "\twa\ts\two\t"
    "\twa\tt\two\t"
    "\twhere\t\twer\t"
    "\twhat\t\twut\t"
    "\twhol\t\thOl\t"
    "\twho\t\thU\t"
    "\twh\t\tw\t"
    "\twar\te\tweR\t"
    "\twar\t\twR\t"
    "\twor\t^\twR\t"
    "\twr\t\tr\t"
    "\tw\t\tw\t"
    "\t";

// x: 1 rules
static char kBlock_x[] =
    "\tx\t\tks\t"
    "\t";

// y: 11 rules
static char kBlock_y[] =
    "\tyoung\t\tyu~\t"
    "_\tyou\t\tyU\t"
    "_\tyes\t\tyes\t"
    "_\ty\t\ty\t"
    "#:^\ty\t_\tY\t"
    "#:^\ty\ti\tY\t"
    "_:\ty\t_\toE\t"
    "_:\ty\t#\toE\t"
    "_:\ty\t^+:#\ti\t"
    "_:\ty\t^#\toE\t"
    "\ty\t\ti\t"
    "\t";

// z: 1 rules
static char kBlock_z[] =
    "\tz\t\tz\t"
    "\t";


// Block 0 for any character that is not a lower-case letter, then "a" to "z".
extern char* const kRuleText[kXlateRuleBlocks] = {
    kBlockOther, kBlock_a, kBlock_b, kBlock_c, kBlock_d, kBlock_e,
    kBlock_f, kBlock_g, kBlock_h, kBlock_i, kBlock_j, kBlock_k,
    kBlock_l, kBlock_m, kBlock_n, kBlock_o, kBlock_p, kBlock_q,
    kBlock_r, kBlock_s, kBlock_t, kBlock_u, kBlock_v, kBlock_w,
    kBlock_x, kBlock_y, kBlock_z,
};
// Size of each block text, terminator included, so the split can be bounded.
extern const int kRuleTextSize[kXlateRuleBlocks] = {
    sizeof(kBlockOther), sizeof(kBlock_a), sizeof(kBlock_b), sizeof(kBlock_c), sizeof(kBlock_d), sizeof(kBlock_e),
    sizeof(kBlock_f), sizeof(kBlock_g), sizeof(kBlock_h), sizeof(kBlock_i), sizeof(kBlock_j), sizeof(kBlock_k),
    sizeof(kBlock_l), sizeof(kBlock_m), sizeof(kBlock_n), sizeof(kBlock_o), sizeof(kBlock_p), sizeof(kBlock_q),
    sizeof(kBlock_r), sizeof(kBlock_s), sizeof(kBlock_t), sizeof(kBlock_u), sizeof(kBlock_v), sizeof(kBlock_w),
    sizeof(kBlock_x), sizeof(kBlock_y), sizeof(kBlock_z),
};

// Numbers 0 to 19.
extern const char* const kOnesNames[20] = {
    "zir0w", "wun", "tUw", "TrE", "fOr",
    "foEv", "siks", "sevN", "At", "noEn",
    "ten", ":levN", "twelv", "TPtYn", "fOrtYn",
    "fiftYn", "sikstYn", "sevNtYn", "AtYn", "noEntYn",
};
// Tens 20 to 90 at index 2 to 9.
extern const char* const kTensNames[10] = {
    "", "", "twenY", "TPdY", "fOrdy", "fifdY", "siksdY", "sevNdY", "AdY", "noEndY",
};
extern const char kHundredName[] = "hundr@d";
extern const char kThousandName[] = "T?zNd";
extern const char kMillionName[] = "milyN";
extern const char kBillionName[] = "bilyN";
extern const char kAndName[] = "N";
extern const char kMinusName[] = "moEn@s";
// Said for the one negative 32-bit value that has no positive counterpart.
extern const char kTooLargeName[] = "ulot";
extern const char kPointName[] = "pOYnt";

// The name of every 7-bit character; control characters, "." and "_" have none.
extern const char* const kSpellNames[128] = {
    "",  // control 0
    "",  // control 1
    "",  // control 2
    "",  // control 3
    "",  // control 4
    "",  // control 5
    "",  // control 6
    "",  // control 7
    "",  // control 8
    "",  // control 9
    "",  // control 10
    "",  // control 11
    "",  // control 12
    "",  // control 13
    "",  // control 14
    "",  // control 15
    "",  // control 16
    "",  // control 17
    "",  // control 18
    "",  // control 19
    "",  // control 20
    "",  // control 21
    "",  // control 22
    "",  // control 23
    "",  // control 24
    "",  // control 25
    "",  // control 26
    "",  // control 27
    "",  // control 28
    "",  // control 29
    "",  // control 30
    "",  // control 31
    "spAs",  // space
    "eksklMASN mork",  // '!'
    "dubL kwOt",  // '"'
    "p?nd soEn",  // '#'
    "dolR",  // '$'
    "pRsent",  // '%'
    "N",  // '&'
    "kwOt",  // "'"
    "OpN pRenT@s:s",  // '('
    "klOz pRenT@s:s",  // ')'
    "astR:sk",  // '*'
    "plus",  // '+'
    "kom@",  // ','
    "hoEfN",  // '-'
    "",  // '.'
    "slaS",  // '/'
    "zir0w",  // '0'
    "wun",  // '1'
    "tUw",  // '2'
    "TrE",  // '3'
    "fOr",  // '4'
    "foEv",  // '5'
    "siks",  // '6'
    "sevN",  // '7'
    "At",  // '8'
    "noEn",  // '9'
    "kOlN",  // ':'
    "semYkOlN",  // ';'
    "les Dan",  // '<'
    "EkwLz",  // '='
    "grAtR Dan",  // '>'
    "kwesCN mork",  // '?'
    "at soEn",  // '@'
    "A",  // 'A'
    "bE",  // 'B'
    "sE",  // 'C'
    "dE",  // 'D'
    "E",  // 'E'
    "ef",  // 'F'
    "jE",  // 'G'
    "AC",  // 'H'
    "oE",  // 'I'
    "jA",  // 'J'
    "kA",  // 'K'
    "el",  // 'L'
    "em",  // 'M'
    "en",  // 'N'
    "Ow",  // 'O'
    "pE",  // 'P'
    "kyU",  // 'Q'
    "or",  // 'R'
    "es",  // 'S'
    "tE",  // 'T'
    "yU",  // 'U'
    "vE",  // 'V'
    "dubLyU",  // 'W'
    "eks",  // 'X'
    "woE",  // 'Y'
    "zE",  // 'Z'
    "OpN brak:t",  // '['
    "bak slaS",  // '\\'
    "klOz brak:t",  // ']'
    "sPkMfleks",  // '^'
    "",  // '_'
    "bak kwOt",  // '`'
    "A",  // 'a'
    "bE",  // 'b'
    "sE",  // 'c'
    "dE",  // 'd'
    "E",  // 'e'
    "ef",  // 'f'
    "jE",  // 'g'
    "AC",  // 'h'
    "oE",  // 'i'
    "jA",  // 'j'
    "kA",  // 'k'
    "el",  // 'l'
    "em",  // 'm'
    "en",  // 'n'
    "Ow",  // 'o'
    "pE",  // 'p'
    "kyU",  // 'q'
    "or",  // 'r'
    "es",  // 's'
    "tE",  // 't'
    "yU",  // 'u'
    "vE",  // 'v'
    "dubLyU",  // 'w'
    "eks",  // 'x'
    "woE",  // 'y'
    "zE",  // 'z'
    "OpN brAs",  // '{'
    "vPt:kL bor",  // '|'
    "klOz brAs",  // '}'
    "tild@",  // '~'
    "d:lEt",  // delete
};

}  // namespace xlatetab
}  // namespace vlm
