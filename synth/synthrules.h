// The rule stages of the synthesiser: phone codes to phoneme symbols, phoneme symbols to
// synthesis elements, and elements to parameter frames every 10 ms (synthesis by rule in the
// manner of Holmes, Mattingly and Shearme).
#pragma once
#include "foundation/arrcoll.h"

namespace vlm {

// The 19 parameter tracks of an element, in table order. Frequencies and bandwidths are in Hz,
// amplitudes in dB (0..87, the range of the synthesiser's amplitude table).
enum SynthParam {
  pFN,   // nasal zero frequency of the cascade (equal to the nasal pole when not nasal)
  pF1, pF2, pF3,
  pB1, pB2, pB3,
  pAN,   // parallel nasal amplitude
  pA1, pA2, pA3, pA4, pA5, pA6,  // parallel formant amplitudes
  pAB,   // parallel bypass amplitude (flat frication)
  pAV,   // voicing amplitude
  pAVC,  // quasi-sinusoidal voicing amplitude (voice bar, voiced fricatives)
  pASP,  // aspiration amplitude
  pAF,   // frication amplitude
  kSynthParams
};

// Element feature flags.
constexpr unsigned ELM_VOWEL = 0x10000000;     // a vowel: takes the current stress
constexpr unsigned ELM_SILENT = 0x00000001;    // silence: its formants follow its neighbours
constexpr unsigned ELM_TRANSPARENT = 0x00000002;  // a junction: all tracks follow the left neighbour
constexpr unsigned ELM_ASPIRATE = 0x00000004;  // formants follow the next element (h)
constexpr unsigned ELM_CONSONANT = 0x00000008;
constexpr unsigned ELM_STOP = 0x00000010;      // closure, burst or release: F2 and F3 follow the vowel

// One parameter of an element: its steady-state value and how it meets a neighbour. At a
// boundary the element of higher rank dominates; the value there is the dominant element's fixed
// contribution plus its proportion (percent) of the other element's steady value. The
// transition lasts the dominant element's external duration inside the other element and its
// internal duration inside itself (frames).
struct ElementParam {
  short steady;
  short fixed;
  short proportion;
  unsigned char externalDur;
  unsigned char internalDur;
};

struct Element {
  const char* name;
  int rank;
  int duration;            // frames when stressed
  int unstressedDuration;  // frames when unstressed
  unsigned features;
  ElementParam param[kSynthParams];
};

// The element table (built on first use) and lookup by name (index or -1).
const Element* synthElements();
int synthElementCount();
int findSynthElement(const char* name);

// Step 1: rewrites phone codes into phoneme symbols, appended to phonemes (which is emptied
// first). Returns the number of symbols.
int rewritePhones(const char* pronunciation, AC<char>& phonemes);

// Steps 2 and 3: expands phoneme symbols (length characters) into elements by longest match in
// the symbol trie, appending three bytes per element (element index, duration in frames,
// stress) to elements, which is emptied first. Returns the length in frames.
int expandPhonemes(const char* symbols, int length, AC<char>& elements);

// Multiplies every element's mean duration; 1.0 is the table's own timing.
constexpr double kSynthSpeedFactor = 1.0;

// Receives the diagnostics of the expansion ("Ignoring %c in '...'"); the default discards them.
typedef void (*SynthDiagnosticSink)(const char* text);
void setSynthDiagnosticSink(SynthDiagnosticSink sink);

// A 10 ms parameter frame: the 19 tracks and the fundamental frequency in tenths of Hz.
struct SynthFrame {
  short value[kSynthParams];
  short f0;
};

// Step 5: fills frames (room for the element list's total duration) with interpolated
// parameter frames; returns the number of frames written.
int buildParameterFrames(const AC<char>& elements, SynthFrame* frames, int room);

}  // namespace vlm
