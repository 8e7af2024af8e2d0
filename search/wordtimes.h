// Where each recognised word's speech ends. The back-trace of a result (RecogResult::framesAt)
// gives the frames where words begin; a word's span there lasts until the next word begins, so
// it holds the pause after the word, and the last word's span holds the utterance's trailing
// silence. speechEnds aligns each word alone within its span to find the end of its sound.
#pragma once
#include "audio/frame.h"
#include "grammar/fsg.h"
#include "search/result.h"

namespace vlm {

class User;
class WordDictionary;

// For every word and out-of-vocabulary item k of items (spans.words() of them, in order), ends[k]
// is the frame after the word's sound: the word's span [start, end) with the frame before it
// is force-aligned as silence, the word's pronunciation and silence (models/alignchain.h, the
// user's models), and the word ends where the trailing silence begins. A span too short for
// the alignment, an out-of-vocabulary item or a word without a pronunciation keeps the span's
// end. ends[k] is always above start(k) and at most end(k). Returns the number of words.
int speechEnds(const FSGNodeTypeItemAC& items, const WordFrames& spans, const Frame* frames, int frameCount,
               const WordDictionary& dict, const User* user, int* ends);

}  // namespace vlm
