// The speaker: one 34-value template per context-dependent pel state, one generic template per
// pel group, the speaker's warp bin and the channel state kept with the templates. The scorer
// compares a frame with a template by a weighted city-block distance in integer arithmetic; the
// .usr file is the text form of a User. See docs/models.md.
#pragma once
#include <cstdint>
#include "audio/frame.h"
#include "foundation/ordcoll.h"
#include "lexicon/phoneset.h"

namespace vlm {

class WavChannel;
class AdaptAccumHS;
class UttFifo;
class WordDictionary;
struct CepMeanNorms;

// The score that marks a state or path as unreachable (search cost units).
constexpr int32_t kUnreachableScore = 200000;

// The file name, NUL included. Room for any path this system builds, so that a name is never
// stored cut short (writeFile without a path would otherwise write to a different file).
constexpr int kUserNameRoom = 1024;
constexpr int kUsrLineRoom = 2048;          // .usr lines hold at most 2047 characters

// Templates of group 0 that carry settings instead of acoustics.
constexpr int kSettingsState = 1;           // [0] = 32, [1] = the warp bin
constexpr int kSettingsMarker = 32;
constexpr int kChannelStoreState = 12;      // [0..16] normaliser, [17] DC, [18] floor, [19] peak
constexpr int kStoreDcOffset = 17;
constexpr int kStoreNoiseFloor = 18;
constexpr int kStoreSpeechPeak = 19;

constexpr int kNeutralWarpBin = 58;

class User {
 public:
  User();   // all templates zero, no name, warp bin 0
  ~User();  // stops being the current speaker
  User(const User&) = delete;
  User& operator=(const User&) = delete;

  // ---- Fields, in the order of the record -------------------------------------------------
  int16_t models[kPelCount][kFrameFeatures];             // indexed by pel state 0..1377
  int16_t genericModels[kPelGroupCount][kFrameFeatures]; // indexed by group (state / 13)
  char name[kUserNameRoom];                              // the file last read, or empty
  int32_t vtln;                                          // the speaker's warp bin

  // The current speaker: set by a successful readFile; the scorer always uses it. Null until a
  // speaker is read or set.
  static User* usr;

  // Per group: the first state of the group scored as the alternative, or -1 (four groups).
  static const int16_t alternativeGroupState[kPelGroupCount];

  // ---- The phone set, forwarded from the lexicon ------------------------------------------
  static int isValidPron(const char* pronunciation) { return vlm::isValidPron(pronunciation); }
  static const char* pelIdToName(int pelId) { return vlm::pelIdToName(pelId); }

  // ---- The .usr file ----------------------------------------------------------------------
  // Reads a speaker model file: 1 on success (this user becomes User::usr, the generic models
  // are recomputed, a missing warp bin is taken from the settings template; a path too long
  // for the name room is read but not kept as the name). On failure returns
  // 0, logs why (file, line and reason) and leaves this User and User::usr exactly as they were.
  int readFile(const char* path);
  // Writes the templates (null path: the stored name). Stamps the settings template with
  // (32, warp bin) first. The file is written under a temporary name and renamed over the
  // target, so a failed write leaves the previous file. 1 when all 1378 templates were written;
  // 0 (logged) when the name is empty or the file cannot be written.
  int writeFile(const char* path = nullptr);
  // Writes the file's text to an open descriptor (stamping the settings first): 1, or 0 when a
  // write fails (errno tells why). For writers that replace several files together.
  int writeFd(int fd);

  // generic[g][i] = mean of model[i] over the 13 states of group g, truncated toward zero.
  void initGenericModels();

  // Copies the channel's normaliser, DC offset and 9/10 of its noise floor and speech peak into
  // the channel store (values beyond 16 bits are stored at the nearest limit).
  void getChanCepMnDel(const WavChannel* channel);
  // Clears the channel's normaliser and speech accumulators, then sets its normaliser, DC
  // offset, noise floor and speech peak from the channel store.
  void setChanCepMnDel(WavChannel* channel) const;

  // The settings template carries the marker 32 and the warp bin (writeFile stamps it).
  void stampSettings();

  // ---- Calibration and adaptation (models/calibrate.cpp, models/adapt.cpp) --------------
  // Spreads the adaptation of each pel group to the group's states that received no frames,
  // relative to the reference models "delta.usr" (nothing changes when it cannot be read).
  void cousinsUpdate(AdaptAccumHS* accums);
  // Makes a speaker from recorded enrollment utterances: applies the warp bin, derives the
  // channel normaliser (returned in out) and adapts the templates in two passes. 1 when
  // calibrated, 0 when the queue is empty. See models/calibrate.h.
  int calibrate(UttFifo* utterances, WordDictionary* dict, CepMeanNorms* out, int vtln);

  // ---- Scoring ----------------------------------------------------------------------------
  // The weighted city-block distance of 34 features from a template (int32, never negative).
  static int rudePelScore(const int16_t* model, const int16_t* features);
  // The frame cost of a pel state for User::usr, in search units: (distance + 24) >> 4, the
  // better of the state and its alternative-group state where the group has one. Without a
  // current speaker, or for a state outside 0..1377, kUnreachableScore.
  static int pelScorePrim(short state, const Frame* frame);

  // ---- Helpers for tests of the scorer and of the search ----------------------------------
  // Fills every template (and the generic models) so that templates of different states lie far
  // apart: rudePelScore between the templates of two different states is at least
  // 2 * kSeparatedStep * kSeparatedCopies (4000), and pelScorePrim of a state on a frame made from
  // another state's template is above 250 unless the two are alternatives of each other
  // (groups 23/26, 25/27, 87/89, 91/88, same context). The warp bin becomes 58; no name.
  void makeSeparated();
  static constexpr int kSeparatedStep = 1000;
  static constexpr int kSeparatedCopies = 2;
  // A frame equal to the template of state (power 0). 0 for a state outside 0..1377, else 1.
  int templateFrame(short state, Frame* frame) const;
  // The frames of a chain of pel states: repeats[i] copies of state states[i]'s template, in
  // order. Returns the number of frames written, or -1 when a state is out of range, a repeat
  // count is negative or the frames do not fit in room.
  int makeChainFrames(const short* states, const int* repeats, int count, Frame* frames,
                      int room) const;
};

// One entry of the phone loop: a free loop over the generic models used for out-of-vocabulary
// speech. Records are in chain order; each phone's chain is its first, middle, last group.
struct GenPel {
  int32_t score;       // kUnreachableScore when inactive
  int16_t genericPel;  // the group whose generic model scores this entry
  uint8_t active;
  uint8_t exit;        // the entry ends a phone (silence and each phone's last entry)

  // Resets the phone loop of the process-wide tables: every entry unreachable and inactive,
  // then entry 0 (silence) at score 0 and active.
  static void reInit();
};

// The process-wide phone loop tables: 106 records and the list of the records at which a phone
// starts (one per phone other than silence, in inventory order).
class GenericPelStatics {
 public:
  GenericPelStatics();
  GenericPelStatics(const GenericPelStatics&) = delete;
  GenericPelStatics& operator=(const GenericPelStatics&) = delete;

  GenPel pels[kPelGroupCount];
  OC<GenPel> startList;

  // The one instance, built on first use.
  static GenericPelStatics& instance();
};

}  // namespace vlm
