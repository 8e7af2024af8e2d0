// The element table: one record per synthesis element with its rank, durations, features and
// the 19 parameter entries (steady value, fixed contribution, proportion, external and internal
// duration). The records are made once from a compact description: the steady values of each
// element, its class (which gives rank, features and transition timing), and where a consonant
// has a place of articulation, the formant onsets as fixed contribution plus proportion of the
// neighbouring vowel's value (the locus equations of acoustic phonetics).
#define VLM_UNIT "synth"
#include <cstring>

#include "synth/synthrules.h"

namespace vlm {

namespace {

enum ElementClass {
  cSilence,    // pause between and after words
  cJunction,   // joins the halves of a long consonant; takes no time of its own
  cVowel,
  cGlide,      // w, y
  cLiquid,     // l, r
  cAspirate,   // h: aspiration shaped by the next vowel's formants
  cNasal,
  cFricative,  // voiceless or voiced frication
  cClosure,    // stop closure (silent, or a voice bar for voiced stops)
  cBurst,      // stop release
  cRelease,    // aspiration or voiced transition after a burst
};

struct ClassTiming {
  int rank;
  unsigned features;
  int formantProportion;  // default proportion of the formant and bandwidth tracks
  int formantExternal, formantInternal;
  int ampProportion;
  int ampExternal, ampInternal;
};

// Indexed by ElementClass. A duration larger than the element makes the transition fill it.
const ClassTiming kClassTiming[] = {
    /* cSilence   */ {0, ELM_SILENT, 100, 0, 0, 0, 0, 0},
    /* cJunction  */ {0, ELM_TRANSPARENT, 100, 0, 0, 0, 0, 0},
    /* cVowel     */ {2, ELM_VOWEL, 50, 5, 5, 50, 3, 3},
    /* cGlide     */ {6, ELM_CONSONANT, 25, 6, 4, 50, 2, 2},
    /* cLiquid    */ {7, ELM_CONSONANT, 30, 5, 3, 50, 2, 2},
    /* cAspirate  */ {1, ELM_CONSONANT | ELM_ASPIRATE, 100, 0, 0, 50, 2, 2},
    /* cNasal     */ {8, ELM_CONSONANT, 50, 4, 1, 50, 1, 1},
    /* cFricative */ {12, ELM_CONSONANT, 50, 4, 1, 50, 0, 0},
    /* cClosure   */ {20, ELM_CONSONANT | ELM_STOP, 50, 5, 0, 50, 1, 0},
    /* cBurst     */ {25, ELM_CONSONANT | ELM_STOP, 100, 0, 0, 0, 0, 0},
    /* cRelease   */ {22, ELM_CONSONANT | ELM_STOP, 50, 6, 99, 0, 0, 0},
};

// Formant onsets of a place of articulation: onset = fixed + proportion% × vowel formant,
// for F1, F2 and F3.
struct Onset {
  short fixed[3];
  short proportion[3];
};
const Onset kNoOnset = {{-1, -1, -1}, {0, 0, 0}};
const Onset kLabial = {{150, 200, 950}, {30, 65, 50}};
const Onset kAlveolar = {{150, 1050, 1600}, {30, 40, 45}};
const Onset kVelar = {{150, 650, 1000}, {30, 70, 55}};
const Onset kPalatal = {{150, 1300, 1300}, {30, 35, 50}};
const Onset kDental = {{150, 900, 1500}, {30, 40, 45}};
const Onset kLabiodental = {{150, 350, 900}, {30, 70, 50}};

struct ElementDesc {
  const char* name;
  ElementClass cls;
  int duration, unstressedDuration;
  const Onset* onset;
  //      FN   F1   F2   F3   B1   B2   B3  AN A1 A2 A3 A4 A5 A6 AB AV AVC ASP AF
  short v[kSynthParams];
};

#define VOWEL(name, dur, udur, f1, f2, f3, b1, b2, b3) \
  {name, cVowel, dur, udur, &kNoOnset, {270, f1, f2, f3, b1, b2, b3, 0, 0, 0, 0, 0, 0, 0, 0, 60, 0, 0, 0}}

const ElementDesc kElements[] = {
    // Pauses.
    {"Q", cSilence, 10, 6, &kNoOnset, {270, 500, 1500, 2500, 90, 110, 150, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
    {"QQ", cJunction, 0, 0, &kNoOnset, {270, 500, 1500, 2500, 90, 110, 150, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},

    // Vowels and the parts of diphthongs (adult male formants, Hz).
    VOWEL("EE", 28, 10, 300, 2250, 3000, 60, 100, 200),
    VOWEL("I", 17, 7, 400, 1950, 2550, 60, 100, 200),
    VOWEL("E", 19, 8, 560, 1800, 2500, 70, 100, 200),
    VOWEL("AA", 25, 10, 680, 1700, 2400, 80, 110, 200),
    VOWEL("U", 17, 7, 620, 1200, 2550, 80, 100, 200),
    VOWEL("O", 22, 9, 700, 1100, 2450, 80, 100, 200),
    VOWEL("OO", 17, 7, 450, 1050, 2300, 70, 100, 200),
    VOWEL("A", 12, 4, 500, 1500, 2500, 70, 100, 200),
    VOWEL("ER", 25, 10, 480, 1350, 1650, 70, 100, 120),
    VOWEL("AR", 28, 10, 700, 1150, 2450, 80, 100, 200),
    VOWEL("AW", 28, 10, 580, 880, 2450, 70, 90, 200),
    VOWEL("UU", 27, 9, 320, 950, 2250, 60, 90, 200),
    VOWEL("OI", 22, 8, 550, 850, 2450, 70, 90, 200),
    VOWEL("AI", 19, 8, 480, 2000, 2600, 60, 100, 200),
    VOWEL("IE", 22, 8, 700, 1250, 2500, 80, 100, 200),
    VOWEL("OU", 22, 8, 700, 1250, 2500, 80, 100, 200),
    VOWEL("OV", 16, 6, 420, 950, 2300, 70, 100, 200),
    VOWEL("OA", 19, 8, 520, 1050, 2450, 70, 100, 200),
    VOWEL("IA", 19, 8, 400, 1950, 2550, 60, 100, 200),
    VOWEL("IB", 12, 6, 500, 1500, 2500, 70, 100, 200),
    VOWEL("AIR", 22, 8, 560, 1800, 2500, 70, 100, 200),
    VOWEL("OOR", 19, 8, 450, 1050, 2300, 70, 100, 200),
    VOWEL("OR", 25, 10, 580, 880, 2450, 70, 90, 200),

    // Glides and liquids.
    {"W", cGlide, 8, 6, &kNoOnset, {270, 290, 610, 2150, 50, 80, 100, 0, 0, 0, 0, 0, 0, 0, 0, 55, 0, 0, 0}},
    {"Y", cGlide, 7, 6, &kNoOnset, {270, 260, 2070, 3020, 40, 150, 300, 0, 0, 0, 0, 0, 0, 0, 0, 55, 0, 0, 0}},
    {"L", cLiquid, 8, 6, &kNoOnset, {270, 310, 1050, 2880, 50, 100, 280, 0, 0, 0, 0, 0, 0, 0, 0, 55, 0, 0, 0}},
    {"R", cLiquid, 8, 6, &kNoOnset, {270, 310, 1060, 1380, 70, 100, 120, 0, 0, 0, 0, 0, 0, 0, 0, 55, 0, 0, 0}},
    {"RX", cLiquid, 8, 6, &kNoOnset, {270, 350, 1200, 1450, 70, 100, 120, 0, 0, 0, 0, 0, 0, 0, 0, 57, 0, 0, 0}},

    // Nasals: the cascade nasal zero (FN) against the fixed nasal pole gives the murmur.
    {"M", cNasal, 8, 6, &kLabial, {450, 280, 1000, 2200, 100, 200, 300, 0, 0, 0, 0, 0, 0, 0, 0, 55, 0, 0, 0}},
    {"N", cNasal, 8, 6, &kAlveolar, {600, 280, 1600, 2600, 100, 200, 300, 0, 0, 0, 0, 0, 0, 0, 0, 55, 0, 0, 0}},
    {"NG", cNasal, 8, 6, &kVelar, {750, 280, 2000, 2600, 100, 200, 300, 0, 0, 0, 0, 0, 0, 0, 0, 55, 0, 0, 0}},

    // Fricatives.
    {"F", cFricative, 12, 8, &kLabiodental, {270, 300, 1100, 2100, 200, 120, 150, 0, 0, 0, 0, 0, 45, 0, 68, 0, 0, 0, 58}},
    {"TH", cFricative, 11, 7, &kDental, {270, 300, 1400, 2700, 200, 120, 150, 0, 0, 0, 0, 0, 0, 45, 62, 0, 0, 0, 55}},
    {"S", cFricative, 13, 9, &kAlveolar, {270, 300, 1700, 2700, 200, 120, 150, 0, 0, 0, 0, 0, 50, 60, 0, 0, 0, 0, 60}},
    {"SH", cFricative, 13, 9, &kPalatal, {270, 300, 1900, 2500, 200, 120, 150, 0, 0, 0, 55, 55, 50, 45, 0, 0, 0, 0, 60}},
    {"X", cFricative, 12, 8, &kVelar, {270, 300, 1900, 2500, 200, 120, 150, 0, 0, 50, 55, 45, 0, 0, 0, 0, 0, 0, 58}},
    {"H", cAspirate, 7, 5, &kNoOnset, {270, 500, 1500, 2500, 200, 110, 150, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 60, 0}},
    {"V", cFricative, 6, 4, &kLabiodental, {270, 300, 1100, 2100, 100, 120, 150, 0, 0, 0, 0, 0, 0, 0, 58, 50, 0, 0, 56}},
    {"DH", cFricative, 4, 3, &kDental, {270, 300, 1400, 2700, 100, 120, 150, 0, 0, 0, 0, 0, 0, 0, 42, 52, 0, 0, 45}},
    {"DI", cFricative, 4, 3, &kDental, {270, 300, 1400, 2700, 80, 120, 150, 0, 0, 0, 0, 0, 0, 0, 38, 55, 0, 0, 38}},
    {"Z", cFricative, 6, 4, &kAlveolar, {270, 300, 1700, 2700, 100, 120, 150, 0, 0, 0, 0, 0, 45, 55, 0, 48, 0, 0, 55}},
    {"ZZ", cFricative, 6, 4, &kAlveolar, {270, 300, 1700, 2700, 100, 120, 150, 0, 0, 0, 0, 0, 45, 55, 0, 50, 0, 0, 52}},
    {"ZH", cFricative, 5, 3, &kPalatal, {270, 300, 1900, 2500, 100, 120, 150, 0, 0, 0, 50, 50, 45, 0, 0, 48, 0, 0, 55}},

    // Stops: closure, burst, release. The closure's formants are the place's onset.
    {"P", cClosure, 8, 6, &kLabial, {270, 250, 900, 2100, 90, 100, 150, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
    {"PY", cBurst, 1, 1, &kLabial, {270, 250, 900, 2100, 200, 120, 150, 0, 0, 40, 0, 0, 0, 0, 62, 0, 0, 0, 62}},
    {"PZ", cRelease, 5, 3, &kLabial, {270, 250, 900, 2100, 200, 120, 150, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 64, 0}},
    {"T", cClosure, 7, 5, &kAlveolar, {270, 250, 1700, 2600, 90, 100, 150, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
    {"TY", cBurst, 1, 1, &kAlveolar, {270, 250, 1700, 2600, 200, 120, 150, 0, 0, 0, 0, 45, 50, 55, 0, 0, 0, 0, 66}},
    {"TZ", cRelease, 5, 3, &kAlveolar, {270, 250, 1700, 2600, 200, 120, 150, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 64, 0}},
    {"K", cClosure, 7, 5, &kVelar, {270, 250, 1950, 2500, 90, 100, 150, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
    {"KY", cBurst, 2, 2, &kVelar, {270, 250, 1950, 2500, 200, 120, 150, 0, 0, 50, 55, 45, 0, 0, 0, 0, 0, 0, 66}},
    {"KZ", cRelease, 5, 3, &kVelar, {270, 250, 1950, 2500, 200, 120, 150, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 64, 0}},
    {"B", cClosure, 6, 4, &kLabial, {270, 250, 900, 2100, 90, 100, 150, 0, 0, 0, 0, 0, 0, 0, 0, 0, 45, 0, 0}},
    {"BY", cBurst, 1, 1, &kLabial, {270, 250, 900, 2100, 200, 120, 150, 0, 0, 35, 0, 0, 0, 0, 56, 0, 40, 0, 56}},
    {"BZ", cRelease, 2, 2, &kLabial, {270, 250, 900, 2100, 90, 100, 150, 0, 0, 0, 0, 0, 0, 0, 0, 52, 0, 0, 0}},
    {"D", cClosure, 6, 4, &kAlveolar, {270, 250, 1700, 2600, 90, 100, 150, 0, 0, 0, 0, 0, 0, 0, 0, 0, 45, 0, 0}},
    {"DY", cBurst, 1, 1, &kAlveolar, {270, 250, 1700, 2600, 200, 120, 150, 0, 0, 0, 0, 40, 45, 50, 0, 0, 40, 0, 61}},
    {"DZ", cRelease, 2, 2, &kAlveolar, {270, 250, 1700, 2600, 90, 100, 150, 0, 0, 0, 0, 0, 0, 0, 0, 52, 0, 0, 0}},
    {"G", cClosure, 6, 4, &kVelar, {270, 250, 1950, 2500, 90, 100, 150, 0, 0, 0, 0, 0, 0, 0, 0, 0, 45, 0, 0}},
    {"GY", cBurst, 2, 1, &kVelar, {270, 250, 1950, 2500, 200, 120, 150, 0, 0, 45, 50, 40, 0, 0, 0, 0, 40, 0, 61}},
    {"GZ", cRelease, 2, 2, &kVelar, {270, 250, 1950, 2500, 90, 100, 150, 0, 0, 0, 0, 0, 0, 0, 0, 52, 0, 0, 0}},

    // Affricates: a closure followed by palatal frication.
    {"CH", cClosure, 6, 4, &kPalatal, {270, 250, 1900, 2500, 90, 100, 150, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
    {"CI", cFricative, 8, 6, &kPalatal, {270, 300, 1900, 2500, 200, 120, 150, 0, 0, 0, 57, 52, 45, 40, 0, 0, 0, 0, 60}},
    {"J", cClosure, 5, 3, &kPalatal, {270, 250, 1900, 2500, 90, 100, 150, 0, 0, 0, 0, 0, 0, 0, 0, 0, 45, 0, 0}},
    {"JY", cFricative, 4, 3, &kPalatal, {270, 300, 1900, 2500, 100, 120, 150, 0, 0, 0, 54, 50, 42, 0, 0, 47, 0, 0, 55}},
};

#undef VOWEL

constexpr int kElementCount = sizeof kElements / sizeof kElements[0];
Element table[kElementCount];
bool tableReady = false;

bool isFormantTrack(int j) { return j >= pFN && j <= pB3; }

void makeTable() {
  for (int i = 0; i < kElementCount; ++i) {
    const ElementDesc& d = kElements[i];
    const ClassTiming& c = kClassTiming[d.cls];
    Element& e = table[i];
    e.name = d.name;
    e.rank = c.rank;
    e.duration = d.duration;
    e.unstressedDuration = d.unstressedDuration;
    e.features = c.features;
    for (int j = 0; j < kSynthParams; ++j) {
      ElementParam& p = e.param[j];
      p.steady = d.v[j];
      const bool formant = isFormantTrack(j);
      int proportion = formant ? c.formantProportion : c.ampProportion;
      int fixed = d.v[j] * (100 - proportion) / 100;
      if (j >= pF1 && j <= pF3 && d.onset->fixed[j - pF1] >= 0) {
        fixed = d.onset->fixed[j - pF1];
        proportion = d.onset->proportion[j - pF1];
      }
      p.fixed = static_cast<short>(fixed);
      p.proportion = static_cast<short>(proportion);
      p.externalDur = static_cast<unsigned char>(formant ? c.formantExternal : c.ampExternal);
      p.internalDur = static_cast<unsigned char>(formant ? c.formantInternal : c.ampInternal);
      if (j == pFN) p.externalDur = p.internalDur = 0;  // the nasal zero switches at the boundary
    }
  }
  tableReady = true;
}

}  // namespace

const Element* synthElements() {
  if (!tableReady) makeTable();
  return table;
}

int synthElementCount() { return kElementCount; }

int findSynthElement(const char* name) {
  if (!name) return -1;
  for (int i = 0; i < kElementCount; ++i)
    if (std::strcmp(kElements[i].name, name) == 0) return i;
  return -1;
}

}  // namespace vlm
