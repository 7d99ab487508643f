#include "platform/ThreadName.h"

#include <pthread.h>

namespace qv {

std::string threadNameForLabel(std::string_view label) {
  if (label.starts_with("qvx.")) label.remove_prefix(4);
  if (label.ends_with(".queue")) label.remove_suffix(6);
  return std::string(label.substr(0, 15));
}

void nameThisThread(std::string_view name) {
  const std::string cut(name.substr(0, 15));
  pthread_setname_np(pthread_self(), cut.c_str());
}

}  // namespace qv
