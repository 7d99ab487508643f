#pragma once
// Names the calling thread after what it does, as `top -H`, a debugger and a profile show it
// ("delaylocator", "record", "timers"): Linux keeps 15 characters of a thread's name.
// Thread contract: the calling thread only.
#include <string>
#include <string_view>

namespace qv {

// The name a queue's label gives its threads: without a "qvx." prefix and a ".queue" suffix,
// cut to 15 characters.
std::string threadNameForLabel(std::string_view label);
void nameThisThread(std::string_view name);

}  // namespace qv
