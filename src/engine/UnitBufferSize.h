#pragma once
// The size record that travels down a processing chain, passed by value.
#include <cstdint>

namespace qv {

struct UnitBufferSize {
  int32_t size = 0;   // floats in a frame
  int32_t isLog = 0;  // 1: the values lie on a log10 frequency axis
  float minX = 0.0f;  // x of the first value (log10 Hz on a log axis)
  float maxX = 0.0f;  // x of the last value

  bool operator==(const UnitBufferSize&) const = default;
};

// What `unitFunction` answers.
enum UnitFunctionCode : uint64_t {
  kUnitFunctionPull = 0,
  kUnitFunctionSplitter = 2,
  kUnitFunctionPullPush = 3,
  kUnitFunctionBandMapper = 4,
  kUnitFunctionAverager = 5,
  kUnitFunctionDecibel = 7,
};

}  // namespace qv
