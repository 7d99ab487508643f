#pragma once
// Where an octave chain's input pull unit takes its FFT frames from. Called on the
// chain's thread.
#include <cstdint>

namespace qv {

class FFTDataSourceProtocol {
 public:
  virtual ~FFTDataSourceProtocol() = default;
  // Writes at most `length` floats; returns how many it wrote.
  virtual uint32_t getDataInto(float* data, uint32_t length) = 0;
  virtual uint64_t samplingRate() const = 0;
  virtual uint64_t requestDataSize() const = 0;
  virtual void setRequestDataSize(uint64_t size) = 0;
};

}  // namespace qv
