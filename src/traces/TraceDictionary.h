#pragma once
// A property-list dictionary read from a trace file (XML or binary). Owns its node tree;
// used from one thread at a time.
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qv {

class TraceDictionary {
 public:
  // Trace files hold three curves of about a thousand numbers: anything larger is refused.
  static constexpr std::size_t kMaxFileBytes = std::size_t{64} << 20;

  // No value (and *error says why) when the path is not a regular file, is larger than
  // kMaxFileBytes, cannot be read, or its root is not a dictionary. Never waits on a FIFO
  // or a device.
  static std::optional<TraceDictionary> readFile(const std::string& path,
                                                 std::string* error = nullptr);
  // The same from bytes in memory; lists too deeply nested or too large for the parser
  // (see PropertyListGuard) are refused.
  static std::optional<TraceDictionary> fromData(const std::string& bytes,
                                                 std::string* error = nullptr);

  // The string under `key`, or no value when absent or not a string.
  std::optional<std::string> stringForKey(const std::string& key) const;
  // The numbers of the array under `key`, as floats. No value when the key holds no array
  // or an element is not a number.
  std::optional<std::vector<float>> floatsForKey(const std::string& key) const;
  bool hasArrayForKey(const std::string& key) const;

 private:
  struct Node;
  explicit TraceDictionary(std::shared_ptr<Node> root) : root_(std::move(root)) {}
  std::shared_ptr<Node> root_;
};

}  // namespace qv
