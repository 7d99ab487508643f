#include "traces/PropertyListGuard.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace qv {
namespace {

constexpr const char* kBinaryMagic = "bplist00";
constexpr std::size_t kTrailerBytes = 32;

// Big-endian unsigned integer of `size` bytes at `at`; false when it does not fit.
bool readUnsigned(const std::string& bytes, std::uint64_t at, unsigned size, std::uint64_t* value) {
  if (size == 0 || size > 8 || at > bytes.size() || bytes.size() - at < size) return false;
  std::uint64_t v = 0;
  for (unsigned i = 0; i < size; ++i) v = (v << 8) | static_cast<std::uint8_t>(bytes[at + i]);
  *value = v;
  return true;
}

// One object of a binary list: what it contributes and which objects it refers to.
struct BinaryObject {
  std::uint64_t payload = 0;
  std::uint64_t firstRef = 0;  // byte offset of its reference list
  std::uint64_t refCount = 0;
};

class BinaryList {
 public:
  explicit BinaryList(const std::string& bytes) : bytes_(bytes) {}

  bool readTrailer() {
    if (bytes_.size() < std::strlen(kBinaryMagic) + kTrailerBytes) return false;
    const std::uint64_t t = bytes_.size() - kTrailerBytes;
    std::uint64_t offsetSize = 0, refSize = 0;
    if (!readUnsigned(bytes_, t + 6, 1, &offsetSize) || !readUnsigned(bytes_, t + 7, 1, &refSize) ||
        !readUnsigned(bytes_, t + 8, 8, &count_) || !readUnsigned(bytes_, t + 16, 8, &top_) ||
        !readUnsigned(bytes_, t + 24, 8, &table_)) {
      return false;
    }
    offsetSize_ = static_cast<unsigned>(offsetSize);
    refSize_ = static_cast<unsigned>(refSize);
    return offsetSize_ >= 1 && offsetSize_ <= 8 && refSize_ >= 1 && refSize_ <= 8 && count_ > 0 &&
           top_ < count_ && table_ < t && (t - table_) / offsetSize_ >= count_;
  }

  std::uint64_t count() const { return count_; }
  std::uint64_t top() const { return top_; }

  bool object(std::uint64_t index, BinaryObject* object) const {
    std::uint64_t at = 0;
    if (!readUnsigned(bytes_, table_ + index * offsetSize_, offsetSize_, &at)) return false;
    std::uint64_t marker = 0;
    if (at >= table_ || !readUnsigned(bytes_, at, 1, &marker)) return false;
    const unsigned type = static_cast<unsigned>(marker >> 4);
    std::uint64_t length = marker & 0x0F;
    std::uint64_t next = at + 1;
    const bool counted = type == 0x4 || type == 0x5 || type == 0x6 || type == 0x7 || type == 0xA ||
                         type == 0xC || type == 0xD;
    if (counted && length == 0x0F) {
      // The length follows as an integer object.
      std::uint64_t intMarker = 0;
      if (!readUnsigned(bytes_, next, 1, &intMarker) || (intMarker >> 4) != 0x1) return false;
      const unsigned size = 1u << (intMarker & 0x0F);
      if (!readUnsigned(bytes_, next + 1, size, &length)) return false;
      next += 1 + size;
    }
    *object = {};
    switch (type) {
      case 0x4:
      case 0x5:
      case 0x7:
        object->payload = length;
        break;
      case 0x6:
        object->payload = 2 * length;
        break;
      case 0xA:
      case 0xC:
        object->refCount = length;
        break;
      case 0xD:
        if (length > table_) return false;
        object->refCount = 2 * length;
        break;
      default:
        object->payload = 16;
        return true;
    }
    if (object->payload > table_ - std::min(table_, next)) return false;
    if (object->refCount > (table_ - std::min(table_, next)) / refSize_) return false;
    object->firstRef = next;
    return true;
  }

  bool ref(const BinaryObject& object, std::uint64_t i, std::uint64_t* index) const {
    return readUnsigned(bytes_, object.firstRef + i * refSize_, refSize_, index) && *index < count_;
  }

 private:
  const std::string& bytes_;
  unsigned offsetSize_ = 0;
  unsigned refSize_ = 0;
  std::uint64_t count_ = 0;
  std::uint64_t top_ = 0;
  std::uint64_t table_ = 0;
};

bool tagAt(const std::string& bytes, std::size_t at, const char* name) {
  const std::size_t n = std::strlen(name);
  if (bytes.compare(at, n, name) != 0) return false;
  const char after = at + n < bytes.size() ? bytes[at + n] : '\0';
  return after == '>' || after == '/' || after == ' ' || after == '\t' || after == '\n' ||
         after == '\r';
}

}  // namespace

bool PropertyListGuard::acceptable(const std::string& bytes, std::string* why) {
  if (bytes.compare(0, std::strlen(kBinaryMagic), kBinaryMagic) == 0) {
    return acceptableBinary(bytes, why);
  }
  return acceptableXml(bytes, why);
}

// Counts the open <array> and <dict> elements; a comment that mentions them only makes
// the count higher, which errs on the side of refusing.
bool PropertyListGuard::acceptableXml(const std::string& bytes, std::string* why) {
  int depth = 0;
  std::uint64_t elements = 0;
  for (std::size_t at = bytes.find('<'); at != std::string::npos; at = bytes.find('<', at + 1)) {
    if (++elements > kMaxNodes) {
      *why = "too many elements";
      return false;
    }
    if (at + 1 < bytes.size() && bytes[at + 1] == '/') {
      if (tagAt(bytes, at + 2, "array") || tagAt(bytes, at + 2, "dict"))
        depth = std::max(depth - 1, 0);
      continue;
    }
    if (!tagAt(bytes, at + 1, "array") && !tagAt(bytes, at + 1, "dict")) continue;
    const std::size_t end = bytes.find('>', at);
    if (end == std::string::npos) break;
    if (bytes[end - 1] == '/') continue;  // <array/> opens nothing
    if (++depth > kMaxDepth) {
      *why = "nested too deeply";
      return false;
    }
  }
  return true;
}

// Walks the object graph from the top object without recursion. An object's depth and
// the size of the tree under it are kept once computed, so shared objects cost once here,
// while the totals count them as often as the parser would copy them.
bool PropertyListGuard::acceptableBinary(const std::string& bytes, std::string* why) {
  BinaryList list(bytes);
  if (!list.readTrailer()) {
    *why = "damaged binary property list";
    return false;
  }
  if (list.count() > kMaxNodes) {
    *why = "too many objects";
    return false;
  }
  enum : std::uint8_t { kUnseen, kOpen, kDone };
  std::vector<std::uint8_t> state(list.count(), kUnseen);
  std::vector<int> depth(list.count(), 0);
  std::vector<std::uint64_t> nodes(list.count(), 0), payload(list.count(), 0);
  struct Frame {
    std::uint64_t index;
    BinaryObject object;
    std::uint64_t nextRef;
  };
  std::vector<Frame> stack;
  const auto open = [&](std::uint64_t index) {
    BinaryObject object;
    if (!list.object(index, &object)) return false;
    state[index] = kOpen;
    nodes[index] = 1;
    payload[index] = object.payload;
    stack.push_back({index, object, 0});
    return true;
  };
  if (!open(list.top())) {
    *why = "damaged binary property list";
    return false;
  }
  while (!stack.empty()) {
    Frame& frame = stack.back();
    if (frame.nextRef == frame.object.refCount) {
      const std::uint64_t done = frame.index;
      state[done] = kDone;
      stack.pop_back();
      if (!stack.empty()) {
        const std::uint64_t parent = stack.back().index;
        depth[parent] = std::max(depth[parent], depth[done] + 1);
        nodes[parent] = std::min(nodes[parent] + nodes[done], kMaxNodes + 1);
        payload[parent] = std::min(payload[parent] + payload[done], kMaxPayloadBytes + 1);
      }
      continue;
    }
    std::uint64_t child = 0;
    if (!list.ref(frame.object, frame.nextRef++, &child)) {
      *why = "damaged binary property list";
      return false;
    }
    if (state[child] == kOpen) {
      *why = "a binary property list that contains itself";
      return false;
    }
    // The child sits one level below the frame, at stack.size().
    const std::size_t level = stack.size();
    if (state[child] == kDone) {
      if (level + static_cast<std::size_t>(depth[child]) > static_cast<std::size_t>(kMaxDepth)) {
        *why = "nested too deeply";
        return false;
      }
      const std::uint64_t parent = frame.index;
      depth[parent] = std::max(depth[parent], depth[child] + 1);
      nodes[parent] = std::min(nodes[parent] + nodes[child], kMaxNodes + 1);
      payload[parent] = std::min(payload[parent] + payload[child], kMaxPayloadBytes + 1);
      continue;
    }
    if (level > static_cast<std::size_t>(kMaxDepth)) {
      *why = "nested too deeply";
      return false;
    }
    if (!open(child)) {
      *why = "damaged binary property list";
      return false;
    }
  }
  const std::uint64_t top = list.top();
  if (nodes[top] > kMaxNodes || payload[top] > kMaxPayloadBytes) {
    *why = "too many objects";
    return false;
  }
  return true;
}

}  // namespace qv
