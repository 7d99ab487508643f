#pragma once
// Seven-state pink (-3 dB/octave) filter for white noise. Plain data; one thread.
namespace qv {

struct PinkFilter {
  float s0 = 0, s1 = 0, s2 = 0, s3 = 0, s4 = 0, s5 = 0, s6 = 0;

  void reset();
  float process(float white);
};

}  // namespace qv
