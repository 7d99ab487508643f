#pragma once
// Where the trace store lives on this desktop: the per-user data folder for the database
// and the documents folder for trace files, each overridable through the environment.
// Stateless; any thread.
#include <initializer_list>
#include <string>

namespace qv {

class TraceFolders {
 public:
  // QUORVEX_DATA_DIR, else $XDG_DATA_HOME/Quorvex, else ~/.local/share/Quorvex.
  static std::string dataFolder();
  // QUORVEX_DOCUMENTS_DIR, else the XDG documents directory (XDG_DOCUMENTS_DIR, then
  // ~/.config/user-dirs.dirs), else ~/Documents.
  static std::string documentsFolder();
  // Creates the folder and its parents; true when it exists afterwards. On failure *error
  // says why and *systemError (when given) holds the system's error number.
  static bool makeFolder(const std::string& path, std::string* error, int* systemError = nullptr);
  static std::string homeFolder();
  static bool exists(const std::string& path);
  // Renames `path` (and path + each suffix that exists) to a free name beside it that
  // says when and why; never overwrites anything. *aside receives the new path.
  static bool moveAside(const std::string& path, std::initializer_list<const char*> suffixes,
                        std::string* aside, std::string* error);
};

}  // namespace qv
