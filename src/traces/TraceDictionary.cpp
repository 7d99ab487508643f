#include "traces/TraceDictionary.h"

#include <fcntl.h>
#include <plist/plist.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "traces/PropertyListGuard.h"

namespace qv {

struct TraceDictionary::Node {
  explicit Node(plist_t p) : plist(p) {}
  ~Node() { plist_free(plist); }
  Node(const Node&) = delete;
  Node& operator=(const Node&) = delete;
  plist_t plist;
};

std::optional<TraceDictionary> TraceDictionary::readFile(const std::string& path,
                                                         std::string* error) {
  std::string ignored;
  std::string& why = error ? *error : ignored;
  // Non-blocking, so that opening a FIFO does not wait for a writer.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    why = std::strerror(errno);
    return std::nullopt;
  }
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    why = "not a regular file";
    // cppcheck-suppress resourceLeak ; the closer above closes fd on every return
    return std::nullopt;
  }
  const std::string tooLarge = "larger than " + std::to_string(kMaxFileBytes >> 20) + " MiB";
  if (static_cast<std::uintmax_t>(st.st_size) > kMaxFileBytes) {
    why = tooLarge;
    // cppcheck-suppress resourceLeak ; the closer above closes fd on every return
    return std::nullopt;
  }
  std::string bytes;
  bytes.reserve(static_cast<std::size_t>(st.st_size));
  char chunk[65536];
  for (;;) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      why = std::strerror(errno);
      return std::nullopt;
    }
    if (n == 0) break;
    bytes.append(chunk, static_cast<std::size_t>(n));
    if (bytes.size() > kMaxFileBytes) {  // grew while we read
      why = tooLarge;
      return std::nullopt;
    }
  }
  return fromData(bytes, &why);
}

std::optional<TraceDictionary> TraceDictionary::fromData(const std::string& bytes,
                                                         std::string* error) {
  std::string ignored;
  std::string& why = error ? *error : ignored;
  why = "not a property list with a dictionary at its root";
  if (bytes.empty() || bytes.size() > kMaxFileBytes) return std::nullopt;
  if (!PropertyListGuard::acceptable(bytes, &why)) return std::nullopt;
  plist_t root = nullptr;
  // Decides between the binary and the XML form by the bplist00 magic.
  plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &root);
  if (!root) return std::nullopt;
  auto node = std::make_shared<Node>(root);
  if (plist_get_node_type(root) != PLIST_DICT) return std::nullopt;
  why.clear();
  return TraceDictionary(std::move(node));
}

std::optional<std::string> TraceDictionary::stringForKey(const std::string& key) const {
  plist_t item = plist_dict_get_item(root_->plist, key.c_str());
  if (!item || plist_get_node_type(item) != PLIST_STRING) return std::nullopt;
  // Not plist_get_string_val: it stops the program on a string with a NUL inside.
  uint64_t length = 0;
  const char* value = plist_get_string_ptr(item, &length);
  if (!value) return std::nullopt;
  return std::string(value, static_cast<std::size_t>(length));
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
