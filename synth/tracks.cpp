// Synthesis by rule: parameter frames every 10 ms interpolated between element targets.
//
// At each boundary the element of higher rank dominates (the right one on equal rank). The
// boundary value of a track is the dominant element's fixed contribution plus its proportion of
// the other element's steady value. Inside the dominant element the track moves between the
// boundary value and its steady value over the dominant's internal duration; inside the other
// element, over the dominant's external duration. Transitions are straight lines in the frame
// centres; when the two transitions of an element do not fit into it they are shortened in
// proportion. Silence takes the formants of its neighbour so that only the amplitudes move;
// h takes the formants of the next element; junctions take no time and join their neighbours;
// stops take F2 and F3 of their onset towards the neighbouring vowel.
#define VLM_UNIT "synth"
#include <cmath>
#include <initializer_list>

#include "synth/synthrules.h"

namespace vlm {

namespace {

bool isFormantTrack(int j) { return j >= pFN && j <= pB3; }

struct Placed {
  const Element* e;
  int frames;
  int stress;
  short steady[kSynthParams];
  float leftValue[kSynthParams], rightValue[kSynthParams];
  int leftDur[kSynthParams], rightDur[kSynthParams];
};

// F0 contour of a statement: a fall from 130 Hz to 90 Hz over the utterance, raised by 10 Hz in
// stressed vowels; tenths of Hz.
constexpr double kF0Start = 1300.0;
constexpr double kF0End = 900.0;
constexpr double kF0Stress = 100.0;

}  // namespace

int buildParameterFrames(const AC<char>& elements, SynthFrame* frames, int room) {
  const Element* table = synthElements();
  const int total = elements.count() / 3;
  if (total <= 0 || !frames || room <= 0) return 0;

  // The elements that take part in the boundaries (junctions of no duration drop out).
  Placed* list = new Placed[total];
  int n = 0;
  int totalFrames = 0;
  for (int i = 0; i < total; ++i) {
    const int index = static_cast<unsigned char>(elements[3 * i]);
    if (index >= synthElementCount()) continue;
    Placed& p = list[n];
    p.e = &table[index];
    p.frames = static_cast<unsigned char>(elements[3 * i + 1]);
    p.stress = static_cast<unsigned char>(elements[3 * i + 2]);
    if ((p.e->features & ELM_TRANSPARENT) && p.frames == 0) continue;
    for (int j = 0; j < kSynthParams; ++j) p.steady[j] = p.e->param[j].steady;
    totalFrames += p.frames;
    ++n;
  }

  // Effective steady values: junctions copy their left neighbour, silence copies the formants of
  // its nearest sounding neighbour (left first), h the formants of the next element.
  for (int i = 0; i < n; ++i) {
    Placed& p = list[i];
    if (p.e->features & ELM_TRANSPARENT) {
      const Placed* from = i > 0 ? &list[i - 1] : (i + 1 < n ? &list[i + 1] : nullptr);
      if (from)
        for (int j = 0; j < kSynthParams; ++j) p.steady[j] = from->steady[j];
    }
  }
  for (int i = n - 1; i >= 0; --i) {
    Placed& p = list[i];
    if (!(p.e->features & ELM_ASPIRATE)) continue;
    const Placed* from = nullptr;
    if (i + 1 < n && !(list[i + 1].e->features & ELM_SILENT)) from = &list[i + 1];
    else if (i > 0 && !(list[i - 1].e->features & ELM_SILENT)) from = &list[i - 1];
    if (from)
      for (int j = 0; j < kSynthParams; ++j)
        if (isFormantTrack(j)) p.steady[j] = from->steady[j];
  }
  for (int i = 0; i < n; ++i) {
    Placed& p = list[i];
    if (!(p.e->features & ELM_SILENT)) continue;
    const Placed* from = nullptr;
    for (int k = i - 1; k >= 0 && !from; --k)
      if (!(list[k].e->features & ELM_SILENT)) from = &list[k];
    for (int k = i + 1; k < n && !from; ++k)
      if (!(list[k].e->features & ELM_SILENT)) from = &list[k];
    if (from)
      for (int j = 0; j < kSynthParams; ++j)
        if (isFormantTrack(j)) p.steady[j] = from->steady[j];
  }

  // Stops are coarticulated with their vowel (the next one, else the one before): their F2 and F3
  // sit at the place's onset for that vowel, so that bursts and aspiration colour with it.
  for (int i = 0; i < n; ++i) {
    Placed& p = list[i];
    if (!(p.e->features & ELM_STOP)) continue;
    const Placed* vowel = nullptr;
    int k = i + 1;
    while (k < n && (list[k].e->features & ELM_STOP)) ++k;
    if (k < n && (list[k].e->features & ELM_VOWEL)) vowel = &list[k];
    if (!vowel) {
      k = i - 1;
      while (k >= 0 && (list[k].e->features & ELM_STOP)) --k;
      if (k >= 0 && (list[k].e->features & ELM_VOWEL)) vowel = &list[k];
    }
    if (!vowel) continue;
    for (int j : {pF2, pF3}) {
      const ElementParam& ep = p.e->param[j];
      p.steady[j] = static_cast<short>(ep.fixed + ep.proportion * vowel->steady[j] / 100);
    }
  }

  // Boundary values and transition durations.
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < kSynthParams; ++j) {
      list[i].leftValue[j] = list[i].rightValue[j] = list[i].steady[j];
      list[i].leftDur[j] = list[i].rightDur[j] = 0;
    }
  for (int i = 0; i + 1 < n; ++i) {
    Placed& l = list[i];
    Placed& r = list[i + 1];
    const bool rightDominates = r.e->rank >= l.e->rank;
    Placed& dom = rightDominates ? r : l;
    Placed& sub = rightDominates ? l : r;
    for (int j = 0; j < kSynthParams; ++j) {
      const ElementParam& dp = dom.e->param[j];
      float value;
      if (isFormantTrack(j) && (sub.e->features & ELM_SILENT)) {
        value = dom.steady[j];  // nothing to move towards in a pause
      } else if (isFormantTrack(j) && (dom.e->features & (ELM_SILENT | ELM_ASPIRATE))) {
        value = sub.steady[j];
      } else {
        // The table's fixed contribution belongs to the table's steady value; a junction whose
        // steady value was taken from a neighbour shifts it along.
        float fixed = dp.fixed;
        if (dom.e->features & ELM_TRANSPARENT)
          fixed += (dom.steady[j] - dp.steady) * (100 - dp.proportion) / 100.0f;
        value = fixed + dp.proportion * sub.steady[j] / 100.0f;
      }
      const int domDur = dp.internalDur;
      const int subDur = dp.externalDur;
      l.rightValue[j] = value;
      r.leftValue[j] = value;
      l.rightDur[j] = rightDominates ? subDur : domDur;
      r.leftDur[j] = rightDominates ? domDur : subDur;
    }
  }

  // Frames.
  int out = 0;
  const double f0Step = totalFrames > 1 ? (kF0End - kF0Start) / (totalFrames - 1) : 0.0;
  for (int i = 0; i < n && out < room; ++i) {
    const Placed& p = list[i];
    const int frameCount = p.frames;
    for (int k = 0; k < frameCount && out < room; ++k) {
      SynthFrame& f = frames[out];
      for (int j = 0; j < kSynthParams; ++j) {
        double tl = p.leftDur[j], tr = p.rightDur[j];
        if (tl + tr > frameCount) {
          const double scale = frameCount / (tl + tr);
          tl *= scale;
          tr *= scale;
        }
        const double centre = k + 0.5;
        double v = p.steady[j];
        if (tl > 0 && centre < tl) {
          v = p.leftValue[j] + (p.steady[j] - p.leftValue[j]) * (centre / tl);
        } else if (tr > 0 && frameCount - centre < tr) {
          v = p.rightValue[j] + (p.steady[j] - p.rightValue[j]) * ((frameCount - centre) / tr);
        }
        f.value[j] = static_cast<short>(std::lround(v));
      }
      double f0 = kF0Start + f0Step * out;
      if (p.stress > 0 && (p.e->features & ELM_VOWEL)) f0 += kF0Stress;
      f.f0 = static_cast<short>(std::lround(f0));
      ++out;
    }
  }
  delete[] list;
  return out;
}

}  // namespace vlm
