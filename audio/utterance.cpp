// Utterance, UttFifo and the search's frame limit.
#define VLM_UNIT "recog"
#include "audio/utterance.h"

#include <unistd.h>

#include "audio/channel.h"
#include "audio/wavefile.h"
#include "foundation/copystr.h"
#include "foundation/log.h"

namespace vlm {

int maxFramesInUtt = 444;

int WavChannel::setMaxFramesInUtt(int n) {
  if (n >= 101 && n <= 452) maxFramesInUtt = n;
  return maxFramesInUtt;
}

// ---- Utterance ------------------------------------------------------------------------------

void (*Utterance::resultDeleter)(RecogResult*) = nullptr;
int (*Utterance::resultRenderer)(const RecogResult*, WordDictionary*, char*, int) = nullptr;

Utterance::Utterance(WavChannel* owner) : channel(owner), frames(kInitialFrames, kFrameGrowth) {}

Utterance::~Utterance() {
  // Still being filled: wait for the end of speech, so the channel is left between utterances.
  if (channel && !(flags & (UTT_COMPLETE | UTT_ABORTED)) && channel->activeUtt == this) complete(0);
  if (channel) {
    if (channel->activeUtt == this) channel->activeUtt = nullptr;
    if (channel->pendingUtt == this) channel->pendingUtt = nullptr;
  }
  delete[] samples;
  if (result) {
    if (resultDeleter)
      resultDeleter(result);
    else
      logError("Utterance: a recognition result without a deleter was dropped");
  }
  delete[] prompt;
  delete[] extra;
}

void Utterance::setPrompt(const char* text) {
  delete[] prompt;
  prompt = text ? copyString(text) : nullptr;
}

void Utterance::setExtra(const char* text) {
  delete[] extra;
  extra = text ? copyString(text) : nullptr;
}

int Utterance::isFrameAvailableFromSignalProcessing() {
  if (flags & UTT_ABORTED) return -5;
  if (flags & UTT_COMPLETE) return -2;
  if (!channel) return -5;
  return channel->isFrameAvailableFromSignalProcessing(this);
}

int Utterance::complete(int abort) {
  if (abort) {
    if (!(flags & UTT_COMPLETE)) {
      if (channel && channel->activeUtt == this)
        channel->eouCleanup(this);
      else
        flags |= UTT_COMPLETE;
    }
    return -2;
  }
  for (;;) {
    const int rc = isFrameAvailableFromSignalProcessing();
    if (rc >= 0) continue;
    if (rc != -1) return rc;
    ::usleep(10000);
  }
}

int Utterance::writeNistFile(const char* path, WordDictionary* dict) const {
  if (!samples || sampleCount <= 0) return 0;
  const char* text = prompt;
  char rendered[256];
  if (!text && result && dict && resultRenderer) {
    rendered[0] = 0;
    if (resultRenderer(result, dict, rendered, sizeof rendered) > 0 && rendered[0]) text = rendered;
  }
  return vlm::writeNistFile(path, samples, static_cast<uint32_t>(sampleCount), text, nullptr);
}

// ---- UttFifo --------------------------------------------------------------------------------

UttFifo::UttFifo(int n) {
  VLM_ASSERT(n >= 2, "n >= 2");
  slots = n >= 2 ? n : 2;
  ring = new Utterance*[slots]();
}

UttFifo::~UttFifo() {
  removeAll();
  delete[] ring;
}

Utterance* UttFifo::advanceHead(Utterance* utt) {
  ring[head] = utt;
  head = next(head);
  if (head != tail) return nullptr;
  Utterance* dropped = ring[tail];
  ring[tail] = nullptr;
  tail = next(tail);
  return dropped;
}

Utterance* UttFifo::advancePoint(Utterance* utt) {
  if (point == head) {
    point = next(point);
    return advanceHead(utt);
  }
  delete ring[point];
  ring[point] = utt;
  point = next(point);
  return nullptr;
}

Utterance* UttFifo::advanceTail() {
  if (tail != point) {
    Utterance* utt = ring[tail];
    ring[tail] = nullptr;
    tail = next(tail);
    return utt;
  }
  for (int i = tail; i != head; i = next(i)) {
    delete ring[i];
    ring[i] = nullptr;
  }
  point = tail = head;
  return nullptr;
}

int UttFifo::backupPoint() {
  if (point == tail) return 0;
  point = prev(point);
  return 1;
}

Utterance* UttFifo::backupTail(Utterance* utt) {
  if (tail == head) return nullptr;
  tail = prev(tail);
  ring[tail] = utt;
  if (tail != head) return nullptr;
  // Full: the newest utterance makes room.
  const int oldHead = head;
  head = prev(head);
  if (point == oldHead) point = head;
  Utterance* dropped = ring[head];
  ring[head] = nullptr;
  return dropped;
}

void UttFifo::removeAll() {
  while (Utterance* utt = advanceTail()) delete utt;
}

int UttFifo::isUttInFifo(const Utterance* utt) const {
  if (!utt) return 0;
  for (int i = tail; i != head; i = next(i))
    if (ring[i] == utt) return 1;
  return 0;
}

Utterance* UttFifo::at(int i) const {
  if (i < 0 || i >= count()) return nullptr;
  return ring[(tail + i) % slots];
}

}  // namespace vlm
