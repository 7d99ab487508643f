#include "cli/OutputSet.h"

#include "cli/CliError.h"

namespace qv::cli {

void OutputSet::add(const std::string& path, std::string contents) {
  outputs_.emplace_back(std::make_unique<OutputFile>(path), std::move(contents));
}

void OutputSet::write() {
  for (auto& [file, contents] : outputs_) {
    if (file->failed()) throw CliError(file->error());
  }
  for (const OutputFile::Kind kind : {OutputFile::Kind::Replace, OutputFile::Kind::Stream}) {
    for (auto& [file, contents] : outputs_) {
      if (file->kind() == kind && !file->write(contents)) throw CliError(file->error());
    }
  }
  for (auto& [file, contents] : outputs_) {
    if (!file->commit()) throw CliError(file->error());
  }
  outputs_.clear();
}

}  // namespace qv::cli
