#pragma once
// Looks at the bytes of a property list before the parser sees them. The parser recurses
// once per level of nesting and copies every shared object of a binary list once per
// reference, so a small hostile file could exhaust the stack or the memory: refuse
// nesting deeper than kMaxDepth and lists whose tree would hold more than kMaxNodes
// objects or kMaxPayloadBytes of strings and data. Stateless; any thread.
#include <cstdint>
#include <string>

namespace qv {

class PropertyListGuard {
 public:
  static constexpr int kMaxDepth = 32;
  static constexpr std::uint64_t kMaxNodes = std::uint64_t{1} << 20;
  static constexpr std::uint64_t kMaxPayloadBytes = std::uint64_t{64} << 20;

  // True when the list may be parsed; otherwise *why says what is wrong with it.
  static bool acceptable(const std::string& bytes, std::string* why);

 private:
  static bool acceptableXml(const std::string& bytes, std::string* why);
  static bool acceptableBinary(const std::string& bytes, std::string* why);
};

}  // namespace qv
