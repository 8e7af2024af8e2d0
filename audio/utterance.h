// Utterance: one spoken phrase as a growing array of Frames, optionally with its raw samples,
// later carrying a prompt, an extra text and the recognition result. UttFifo keeps recent
// utterances. See docs/audio-frontend.md for the life of an utterance and the ownership rules.
#pragma once
#include <cstdint>
#include "audio/frame.h"

namespace vlm {

class WavChannel;
class RecogResult;
class WordDictionary;

// The search's frame limit: frames searched at most in one utterance. Changed through
// WavChannel::setMaxFramesInUtt, which accepts 101..452.
extern int maxFramesInUtt;

class Utterance {
 public:
  enum : uint32_t {
    UTT_STARTED = 1,        // created by start detection
    UTT_COMPLETE = 2,
    UTT_NORMALISED = 4,     // its frames carry the normaliser step of its own end
    UTT_ABORTED = 8,
    UTT_SOURCE_ERROR = 0x10,
  };
  static constexpr int kInitialFrames = 453;
  static constexpr int kFrameGrowth = 200;

  explicit Utterance(WavChannel* channel = nullptr);
  // An utterance that is still being filled by its channel is first completed (waits for the end
  // of speech); then samples, result, prompt, extra and frames are freed.
  ~Utterance();
  Utterance(const Utterance&) = delete;
  Utterance& operator=(const Utterance&) = delete;

  void setPrompt(const char* text);   // keeps a copy (null clears)
  void setExtra(const char* text);
  // -5 when aborted, -2 when complete, else one frame more from the channel (1 added, -1 no
  // audio yet, -2 now complete, other negative codes: aborted).
  int isFrameAvailableFromSignalProcessing();
  // abort non-zero: ends the utterance at once and returns -2. Otherwise pulls frames until the
  // result is negative and not -1 (sleeping 10 ms after each -1) and returns that result.
  int complete(int abort);
  // Writes the samples as a NIST file. The prompt is the utterance's own, else the selected
  // hypothesis of its result rendered as words (needs dict and the renderer installed by the
  // search), else none. Returns 1 when written, 0 when there are no samples or the write fails.
  int writeNistFile(const char* path, WordDictionary* dict) const;

  int frameCount() const { return frames.count(); }
  int isComplete() const { return (flags & UTT_COMPLETE) != 0; }
  int isAborted() const { return (flags & UTT_ABORTED) != 0; }

  uint32_t flags = 0;
  WavChannel* channel;
  FrameAC frames;
  int16_t* samples = nullptr;   // raw samples (new int16_t[]), only when the channel kept them
  int32_t sampleCount = 0;
  char* prompt = nullptr;
  char* extra = nullptr;
  int32_t phoneLoopScore = 0;
  RecogResult* result = nullptr;   // owned; freed through resultDeleter

  // ---- Hooks the search installs (the result type lives above this subsystem) ----------------
  // Frees a RecogResult.
  static void (*resultDeleter)(RecogResult* result);
  // Renders the selected hypothesis of result as words into buffer (room bytes, NUL included);
  // returns the length written (0: nothing, and then no prompt is written).
  static int (*resultRenderer)(const RecogResult* result, WordDictionary* dict, char* buffer, int room);
};

// A ring of n Utterance pointers with head (next write), tail (oldest) and point (a cursor
// between them). It holds at most n - 1 utterances and owns those it holds; an utterance it hands
// back (a return value) belongs to the caller, who deletes it or stores it elsewhere.
class UttFifo {
 public:
  explicit UttFifo(int n);
  ~UttFifo();   // removeAll
  UttFifo(const UttFifo&) = delete;
  UttFifo& operator=(const UttFifo&) = delete;

  // If point = head: advances point and stores utt at head (see advanceHead). Otherwise deletes
  // the utterance at point, stores utt there, advances point and returns null.
  Utterance* advancePoint(Utterance* utt);
  // If tail != point: returns the utterance at tail (now the caller's) and advances tail.
  // Otherwise deletes every utterance from tail to head, sets point = tail = head, returns null.
  Utterance* advanceTail();
  // 0 when point = tail, else moves point back one and returns 1.
  int backupPoint();
  // Null when tail = head. Else moves tail back one and stores utt there; when that reaches head,
  // head moves back one and the utterance found there is returned for the caller to delete.
  Utterance* backupTail(Utterance* utt);
  void removeAll();
  int isUttInFifo(const Utterance* utt) const;

  int size() const { return slots; }
  int count() const { return (head - tail + slots) % slots; }
  // The utterance i places from the tail (0 = oldest), or null.
  Utterance* at(int i) const;
  Utterance* atPoint() const { return point != head ? ring[point] : nullptr; }
  int pointIndex() const { return (point - tail + slots) % slots; }

 protected:
  // Stores utt at head and advances it; when head reaches tail, tail advances and the dropped
  // oldest utterance is returned for the caller to delete; otherwise null.
  Utterance* advanceHead(Utterance* utt);
  int next(int i) const { return i + 1 == slots ? 0 : i + 1; }
  int prev(int i) const { return i == 0 ? slots - 1 : i - 1; }

  Utterance** ring;
  int slots;
  int head = 0;
  int tail = 0;
  int point = 0;
};

}  // namespace vlm
