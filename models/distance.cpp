#include "models/distance.h"

#if defined(VLM_DISTANCE_AVX2)
#include <immintrin.h>
#endif

#include "audio/frame.h"

namespace vlm::distance {

// The distance is a sum of 34 independent terms over int16 inputs widened to 32 bits. The loops
// have fixed trip counts of whole vectors (8 features 2..9, 24 features 10..33) and no branches,
// so the compiler turns them into vector code. Every term is exact over the whole int16 range:
// |(m0 - f0) * m0| < 2^31, the quadratic terms never leave 32 unsigned bits (see below), and the
// total stays below 2^29.
int portable(const int16_t* m, const int16_t* f) {
  const int32_t m0 = m[0];
  const int32_t p0 = (m0 - f[0]) * m0;
  const int32_t d1 = static_cast<int32_t>(m[1]) - f[1];
  int32_t sum = ((p0 < 0 ? -p0 : p0) >> 5) + (d1 < 0 ? -d1 : d1);

  // Features 2..9 as one vector of eight: 2 and 3 count |d|, 4..9 count (d * (d + 106)) >> 7.
  // The product is formed in unsigned 32-bit lanes: d * d fits for d <= 65535, and splitting
  // off its low 7 bits keeps the floor exact: (d*d >> 7) + (((d*d & 127) + 106*d) >> 7).
  uint32_t mixed = 0;
  for (int i = 2; i < 10; ++i) {
    const int32_t d0 = static_cast<int32_t>(m[i]) - f[i];
    const uint32_t d = static_cast<uint32_t>(d0 < 0 ? -d0 : d0);
    const uint32_t sq = d * d;
    const uint32_t q = (sq >> 7) + (((sq & 127u) + 106u * d) >> 7);
    mixed += i >= 4 ? q : d;
  }

  // Features 10..33: three vectors of eight absolute differences.
  int32_t linear = 0;
  for (int i = 10; i < kFrameFeatures; ++i) {
    const int32_t d = static_cast<int32_t>(m[i]) - f[i];
    linear += d < 0 ? -d : d;
  }
  return sum + static_cast<int32_t>(mixed) + linear;
}

#if defined(VLM_DISTANCE_AVX2)

namespace {

// |m - f| of eight features widened to 32-bit lanes.
__attribute__((target("avx2"))) inline __m256i absDiff8(const int16_t* m, const int16_t* f) {
  const __m256i a = _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(m)));
  const __m256i b = _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(f)));
  return _mm256_abs_epi32(_mm256_sub_epi32(a, b));
}

// The quadratic term of each lane, in unsigned 32-bit arithmetic as in the portable form.
__attribute__((target("avx2"))) inline __m256i quadratic(__m256i d) {
  const __m256i sq = _mm256_mullo_epi32(d, d);
  const __m256i low = _mm256_and_si256(sq, _mm256_set1_epi32(127));
  const __m256i lin = _mm256_mullo_epi32(d, _mm256_set1_epi32(106));
  return _mm256_add_epi32(_mm256_srli_epi32(sq, 7), _mm256_srli_epi32(_mm256_add_epi32(low, lin), 7));
}

}  // namespace

// Features 0..31 as four vectors of eight lanes; features 0 and 1 (their own terms) and 32, 33
// are added one by one. Lanes wrap modulo 2^32 exactly as the portable form's unsigned sums do.
__attribute__((target("avx2"))) int avx2(const int16_t* m, const int16_t* f) {
  const __m256i d0 = absDiff8(m, f);             // features 0..7
  const __m256i d1 = absDiff8(m + 8, f + 8);     // 8..15
  const __m256i d2 = absDiff8(m + 16, f + 16);   // 16..23
  const __m256i d3 = absDiff8(m + 24, f + 24);   // 24..31
  // 0, 1: left out here; 2, 3: |d|; 4..7: quadratic.
  __m256i v0 = _mm256_blend_epi32(d0, quadratic(d0), 0xF0);
  v0 = _mm256_blend_epi32(v0, _mm256_setzero_si256(), 0x03);
  // 8, 9: quadratic; 10..15: |d|.
  const __m256i v1 = _mm256_blend_epi32(d1, quadratic(d1), 0x03);
  const __m256i v = _mm256_add_epi32(_mm256_add_epi32(v0, v1), _mm256_add_epi32(d2, d3));
  __m128i s = _mm_add_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
  s = _mm_add_epi32(s, _mm_shuffle_epi32(s, 0x4E));
  s = _mm_add_epi32(s, _mm_shuffle_epi32(s, 0xB1));
  const uint32_t vectorSum = static_cast<uint32_t>(_mm_cvtsi128_si32(s));

  const int32_t m0 = m[0];
  const int32_t p0 = (m0 - f[0]) * m0;
  const int32_t e1 = static_cast<int32_t>(m[1]) - f[1];
  const int32_t e32 = static_cast<int32_t>(m[32]) - f[32];
  const int32_t e33 = static_cast<int32_t>(m[33]) - f[33];
  const int32_t scalar = ((p0 < 0 ? -p0 : p0) >> 5) + (e1 < 0 ? -e1 : e1) + (e32 < 0 ? -e32 : e32) +
                         (e33 < 0 ? -e33 : e33);
  return scalar + static_cast<int32_t>(vectorSum);
}

bool avx2Supported() {
  static const bool supported = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
  }();
  return supported;
}

#endif

}  // namespace vlm::distance
