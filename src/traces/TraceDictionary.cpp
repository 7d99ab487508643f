#include "traces/TraceDictionary.h"

#include <plist/plist.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <limits>

namespace qv {

struct TraceDictionary::Node {
  explicit Node(plist_t p) : plist(p) {}
  ~Node() { plist_free(plist); }
  Node(const Node&) = delete;
  Node& operator=(const Node&) = delete;
  plist_t plist;
};

std::optional<TraceDictionary> TraceDictionary::readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return fromData(bytes);
}

std::optional<TraceDictionary> TraceDictionary::fromData(const std::string& bytes) {
  if (bytes.empty() || bytes.size() > std::numeric_limits<uint32_t>::max()) return std::nullopt;
  plist_t root = nullptr;
  // Decides between the binary and the XML form by the bplist00 magic.
  plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &root);
  if (!root) return std::nullopt;
  auto node = std::make_shared<Node>(root);
  if (plist_get_node_type(root) != PLIST_DICT) return std::nullopt;
  return TraceDictionary(std::move(node));
}

std::optional<std::string> TraceDictionary::stringForKey(const std::string& key) const {
  plist_t item = plist_dict_get_item(root_->plist, key.c_str());
  if (!item || plist_get_node_type(item) != PLIST_STRING) return std::nullopt;
  char* value = nullptr;
  plist_get_string_val(item, &value);
  if (!value) return std::nullopt;
  std::string text(value);
  std::free(value);
  return text;
}

bool TraceDictionary::hasArrayForKey(const std::string& key) const {
  plist_t item = plist_dict_get_item(root_->plist, key.c_str());
  return item && plist_get_node_type(item) == PLIST_ARRAY;
}

std::optional<std::vector<float>> TraceDictionary::floatsForKey(const std::string& key) const {
  plist_t array = plist_dict_get_item(root_->plist, key.c_str());
  if (!array || plist_get_node_type(array) != PLIST_ARRAY) return std::nullopt;
  const uint32_t count = plist_array_get_size(array);
  std::vector<float> values;
  values.reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    plist_t item = plist_array_get_item(array, i);
    switch (plist_get_node_type(item)) {
      case PLIST_REAL: {
        double value = 0.0;
        plist_get_real_val(item, &value);
        values.push_back(static_cast<float>(value));
        break;
      }
      case PLIST_UINT: {
        // libplist keeps signed integers in the same node type, as two's complement.
        uint64_t value = 0;
        plist_get_uint_val(item, &value);
        values.push_back(static_cast<float>(static_cast<int64_t>(value)));
        break;
      }
      case PLIST_BOOLEAN: {
        uint8_t value = 0;
        plist_get_bool_val(item, &value);
        values.push_back(value ? 1.0f : 0.0f);
        break;
      }
      default:
        return std::nullopt;
    }
  }
  return values;
}

}  // namespace qv
