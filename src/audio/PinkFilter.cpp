#include "audio/PinkFilter.h"

namespace qv {

void PinkFilter::reset() { *this = PinkFilter{}; }

float PinkFilter::process(float white) {
  // Products in double, states kept as float: the generator's sound depends on it.
  const double w = white;
  s0 = static_cast<float>(0.99886 * s0 + 0.0555179 * w);
  s1 = static_cast<float>(0.99332 * s1 + 0.0750759 * w);
  s2 = static_cast<float>(0.969 * s2 + 0.153852 * w);
  s3 = static_cast<float>(0.8665 * s3 + 0.3104856 * w);
  s4 = static_cast<float>(0.55 * s4 + 0.5329522 * w);
  s5 = static_cast<float>(-0.7616 * s5 + 0.016898 * w);
  const auto out =
      static_cast<float>(static_cast<double>(s0) + s1 + s2 + s3 + s4 + s5 + s6 + 0.5362 * w);
  s6 = static_cast<float>(0.115926 * w);
  return out;
}

}  // namespace qv
