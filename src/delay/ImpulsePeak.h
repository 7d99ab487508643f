#pragma once
// Reads an analytic impulse (complex, its real part the impulse and its magnitude the
// envelope): the envelope's highest point, the next highest outside that arrival's own
// lobe, and the typical height of the noise. Ringing of one arrival (a band-limited
// impulse swings many times) stays inside its lobe; a second arrival, a periodic signal's
// repeat or noise does not.
// Thread contract: none; allocates nothing (the caller hands in scratch space).
#include <cstddef>
#include <cstdint>

namespace qv {

struct ImpulsePeak {
  int32_t index = 0;       // circular index of the highest envelope point
  double envelope = 0.0;   // its height
  double next = 0.0;       // the highest envelope outside the lobe around it
  double noise = 0.0;      // the envelope's median over its Rayleigh median factor: σ of noise
  int32_t lobeBefore = 0;  // how far the lobe reaches on either side, in points
  int32_t lobeAfter = 0;

  double peakToNext() const { return next > 0.0 ? envelope / next : 1e9; }
  double peakToNoise() const { return noise > 0.0 ? envelope / noise : 0.0; }

  // `analytic` holds n complex values (re, im). `envelope` receives their magnitudes and
  // `scratch` is overwritten; both hold n floats. The noise floor is taken over the lags
  // from noiseFrom to noiseTo (circular indices, signed), where both windows behind the
  // impulse hold audio and overlap enough for its noise to be of one height; fewer than
  // kMinNoisePoints there give no floor (and a peak that stands out of nothing).
  static constexpr int32_t kMinNoisePoints = 256;
  static ImpulsePeak read(const float* analytic, int32_t n, int32_t noiseFrom, int32_t noiseTo,
                          float* envelope, float* scratch);

  // The point of the largest |real part| within the lobe, and its sign.
  int32_t strongestWithinLobe(const float* analytic, int32_t n, bool* negative) const;
};

}  // namespace qv
