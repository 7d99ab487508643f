#include "audiolib/DeviceRegistry.h"

namespace qv {
namespace {

bool& defaultFlag(AudioDeviceInfo& d, bool input) {
  return input ? d.isDefaultInput : d.isDefaultOutput;
}

// Marks exactly one present default: the backend's own default, else the first hardware
// device, else the virtual sound system.
void markDefault(std::vector<AudioDeviceInfo>& list, bool input, size_t first) {
  size_t chosen = list.size();
  for (size_t i = first; i < list.size() && chosen == list.size(); ++i) {
    if (list[i].enabled && !list[i].isVirtual && defaultFlag(list[i], input)) chosen = i;
  }
  for (size_t i = first; i < list.size() && chosen == list.size(); ++i) {
    if (list[i].enabled && !list[i].isVirtual) chosen = i;
  }
  for (size_t i = first; i < list.size() && chosen == list.size(); ++i) {
    if (list[i].enabled && list[i].isVirtual) chosen = i;
  }
  for (size_t i = 0; i < list.size(); ++i) defaultFlag(list[i], input) = i == chosen;
}

bool sameDevices(const std::vector<AudioDeviceInfo>& a, const std::vector<AudioDeviceInfo>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].driver != b[i].driver || a[i].inputChannels != b[i].inputChannels ||
        a[i].outputChannels != b[i].outputChannels || a[i].isDefaultInput != b[i].isDefaultInput ||
        a[i].isDefaultOutput != b[i].isDefaultOutput) {
      return false;
    }
  }
  return true;
}

}  // namespace

DeviceRegistry::DeviceRegistry() {
  AudioDeviceInfo none;
  none.name = "No sound";
  playback_.push_back(none);
}

void DeviceRegistry::merge(std::vector<AudioDeviceInfo>& list,
                           const std::vector<AudioDeviceInfo>& present, bool input, size_t first) {
  for (size_t i = first; i < list.size(); ++i) list[i].enabled = false;
  for (const auto& d : present) {
    if ((input ? d.inputChannels : d.outputChannels) <= 0) continue;
    const auto number = numberOf(list, d.driver);
    if (number && *number >= first) {
      list[*number] = d;  // a backend index may have changed meanwhile
    } else {
      list.push_back(d);
    }
  }
  markDefault(list, input, first);
}

bool DeviceRegistry::update(const std::vector<AudioDeviceInfo>& devices) {
  const auto oldRecording = presentRecording();
  const auto oldPlayback = presentPlayback();
  merge(recording_, devices, true, 0);
  merge(playback_, devices, false, 1);
  return !sameDevices(oldRecording, presentRecording()) ||
         !sameDevices(oldPlayback, presentPlayback());
}

std::vector<AudioDeviceInfo> DeviceRegistry::present(const std::vector<AudioDeviceInfo>& list) {
  std::vector<AudioDeviceInfo> out;
  for (const auto& d : list) {
    if (d.enabled) out.push_back(d);
  }
  return out;
}

const AudioDeviceInfo* DeviceRegistry::find(const std::vector<AudioDeviceInfo>& list,
                                            uint32_t number, bool input) {
  if (number == kDefaultDevice) {
    for (auto& d : list) {
      if (d.enabled && (input ? d.isDefaultInput : d.isDefaultOutput)) return &d;
    }
    return nullptr;
  }
  return number < list.size() ? &list[number] : nullptr;
}

std::optional<uint32_t> DeviceRegistry::numberOf(const std::vector<AudioDeviceInfo>& list,
                                                 const std::string& driver) {
  for (size_t i = 0; i < list.size(); ++i) {
    if (list[i].driver == driver) return static_cast<uint32_t>(i);
  }
  return std::nullopt;
}

}  // namespace qv
