// The delay compensation of TFDataSource: asked for on the controlling thread, taken over
// by update at a frame boundary (whole samples to the delay line, the rest as a phase term,
// the averaged frames kept, turned or restarted).
#include <cmath>
#include <cstdio>
#include <mutex>

#include "engine/TFDataSource.h"
#include "platform/Log.h"

namespace qv {

void TFDataSource::setDelayLeftAndRight(float left, float right) {
  const bool inRange = left >= 0.0f && left <= kMaxDelayMs && right >= 0.0f && right <= kMaxDelayMs;
  if (!_fftChannel || _delayLineFx == 0 || !inRange) {
    const int32_t error =
        !_fftChannel || _delayLineFx == 0 ? kStreamErrorHandle : kStreamErrorIllParam;
    std::printf("FX Set Params ERROR: %d\n", error);
    return;
  }
  postDelay(left, right, DelayChange::Keep, kRestartNow, true);
}

bool TFDataSource::setDelay(double milliseconds, DelayChange change, int64_t restartFrom) {
  if (!(std::fabs(milliseconds) <= kMaxDelayMs)) {
    log("Delay out of range: %g ms", milliseconds);
    return false;
  }
  postDelay(milliseconds < 0.0 ? -milliseconds : 0.0, milliseconds > 0.0 ? milliseconds : 0.0,
            change, restartFrom, false);
  return true;
}

void TFDataSource::postDelay(double leftMs, double rightMs, DelayChange change, int64_t restartFrom,
                             bool wholeSamples) {
  std::lock_guard<std::mutex> lock(_delayLock);
  const uint64_t generation = _delayRequest.generation + 1;
  _delayRequest = {leftMs, rightMs, change, restartFrom, wholeSamples, generation};
}

double TFDataSource::appliedDelaySamples() const {
  return appliedDelayMs() * static_cast<double>(samplingRate()) / 1000.0;
}

void TFDataSource::applyDelayChange() {
  DelayRequest request;
  {
    // A request being written right now is taken at the next update.
    std::unique_lock<std::mutex> lock(_delayLock, std::try_to_lock);
    if (!lock.owns_lock()) return;
    request = _delayRequest;
  }
  const bool fresh = request.generation != _delayApplied.generation;
  if (!fresh && !_delayStale && _delaySwapped == channelsSwapped()) return;
  if (!_fftChannel) return;
  const double rate = _fftChannel->rate();
  const double before = _compensation.net();
  _delaySwapped = channelsSwapped();
  double left = request.leftMs * rate / 1000.0;
  double right = request.rightMs * rate / 1000.0;
  if (request.wholeSamples) left = std::nearbyint(left), right = std::nearbyint(right);
  _compensation.set(left, right, _delaySwapped);
  // The delay line takes whole samples; milliseconds of whole samples round back exactly.
  const SpectrumStream::DelayLineParameters whole{
      static_cast<float>(_compensation.wholeLeft() * 1000.0 / rate),
      static_cast<float>(_compensation.wholeRight() * 1000.0 / rate)};
  if (_delayLineFx == 0 || !_fftChannel->fxSetParameters(_delayLineFx, whole))
    std::printf("FX Set Params ERROR: %d\n", SpectrumStream::errorGetCode());
  if (fresh && request.change == DelayChange::Rotate) {
    DelayCompensation::rotate(_crossRe.get(), _crossIm.get(),
                              static_cast<size_t>(_fftInputSize) / 2 + 1, _fftInputSize,
                              _compensation.net() - before);
    if (_fullSpectraKept) writeFullSpectra();
  }
  if (fresh && request.change == DelayChange::Restart) _restartFrom = request.restartFrom;
  _delayApplied = request;
  _delayStale = false;
  _appliedDelayMs.store(
      request.wholeSamples ? (right - left) * 1000.0 / rate : request.rightMs - request.leftMs,
      std::memory_order_release);
}

void TFDataSource::restartIfDue() {
  if (_restartFrom == kNoRestart) return;
  // The path moved at _restartFrom: a frame is clean once its measurement samples (recorded
  // channel 1, held back by its own whole delay) all come from then on.
  const int64_t measurementStart = _tailPosition - static_cast<int64_t>(_compensation.wholeLeft());
  if (_restartFrom != kRestartNow && measurementStart < _restartFrom) return;
  _restartFrom = kNoRestart;
  resetAverages();
}

}  // namespace qv
