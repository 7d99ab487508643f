#pragma once
// A property-list dictionary read from a trace file (XML or binary). Owns its node tree;
// used from one thread at a time.
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qv {

class TraceDictionary {
 public:
  // No value when the file cannot be read or its root is not a dictionary.
  static std::optional<TraceDictionary> readFile(const std::string& path);
  static std::optional<TraceDictionary> fromData(const std::string& bytes);

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
