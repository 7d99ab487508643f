#pragma once
// Writes a whole file under a temporary name beside it and renames it into place, so a
// reader never sees half a file and a failure leaves any earlier file untouched.
#include <string>

namespace qv::cli {

// Throws CliError with the reason when the file cannot be written completely.
void writeFileAtomically(const std::string& path, const std::string& contents);

}  // namespace qv::cli
