#include "history/Sha256Blocks.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace veilex {

#if defined(__x86_64__) || defined(__i386__)

bool Sha256HasShaExtensions() {
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
  const bool ssse3 = (c & bit_SSSE3) != 0, sse41 = (c & bit_SSE4_1) != 0;
  if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
  return ssse3 && sse41 && (b & bit_SHA) != 0;
}

// The instructions work on the state as two halves, ABEF and CDGH; each
// sha256rnds2 does two rounds with the two lowest words of its message
// argument, so four words of schedule (plus their constants) make two calls.
__attribute__((target("sha,sse4.1,ssse3"))) void Sha256BlocksShaExtensions(uint32_t state[8], const uint8_t* data,
                                                                              size_t blocks) {
  // Big-endian words to the processor's order.
  const __m128i byte_swap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
  const __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[0]));
  const __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[4]));
  const __m128i cdab = _mm_shuffle_epi32(dcba, 0xB1);
  const __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1B);
  __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
  __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);

  for (; blocks > 0; --blocks, data += 64) {
    const __m128i abef_before = abef, cdgh_before = cdgh;
    // message[i % 4] holds words 4i..4i+3 of the schedule.
    __m128i message[4];
    for (int i = 0; i < 16; ++i) {
      __m128i& words = message[i % 4];
      if (i < 4) {
        words = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * i)), byte_swap);
      } else {
        // w[t] = s1(w[t-2]) + w[t-7] + s0(w[t-15]) + w[t-16]
        const __m128i& last = message[(i + 3) % 4];
        const __m128i seven_back = _mm_alignr_epi8(last, message[(i + 2) % 4], 4);
        words = _mm_sha256msg2_epu32(_mm_add_epi32(_mm_sha256msg1_epu32(words, message[(i + 1) % 4]), seven_back),
                                     last);
      }
      __m128i with_constants =
          _mm_add_epi32(words, _mm_load_si128(reinterpret_cast<const __m128i*>(&kSha256Round[4 * i])));
      cdgh = _mm_sha256rnds2_epu32(cdgh, abef, with_constants);
      with_constants = _mm_shuffle_epi32(with_constants, 0x0E);
      abef = _mm_sha256rnds2_epu32(abef, cdgh, with_constants);
    }
    abef = _mm_add_epi32(abef, abef_before);
    cdgh = _mm_add_epi32(cdgh, cdgh_before);
  }

  const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
  const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[0]), _mm_blend_epi16(feba, dchg, 0xF0));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[4]), _mm_alignr_epi8(dchg, feba, 8));
}

#else

bool Sha256HasShaExtensions() { return false; }
void Sha256BlocksShaExtensions(uint32_t state[8], const uint8_t* data, size_t blocks) {
  Sha256BlocksPortable(state, data, blocks);
}

#endif

}  // namespace veilex
