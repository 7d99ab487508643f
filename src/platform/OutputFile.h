#pragma once
// One output file, written the way its target needs. A regular file (or a name that does
// not exist yet) is written in full under a temporary name in the target's own folder and
// renamed over it by commit(), so a reader never sees half a file and a failure leaves
// the earlier file as it was. A symbolic link is followed and its target written; the
// link stays. FIFOs, character devices and the standard streams ("-", /dev/stdout,
// /dev/stderr, /dev/fd/N) are written straight and never replaced; anything else (a
// folder, a block device, a socket) is refused.
// One thread at a time per object.
#include <string>

namespace qv {

class OutputFile {
 public:
  enum class Kind {
    Replace,  // temporary file, renamed into place by commit()
    Stream,   // written straight into the target
    Refused,  // nothing can be written; error() says why
  };

  // Follows `path` to its target (no write yet). With `waitForReader` false a FIFO that
  // no program reads from fails at once instead of waiting for a reader (for a program
  // whose main thread must not block).
  explicit OutputFile(std::string path, bool waitForReader = true);
  // Removes a temporary file that was not committed.
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  Kind kind() const { return kind_; }
  const std::string& path() const { return path_; }
  // The file that is written: `path` with its links followed ("" for a descriptor).
  const std::string& target() const { return target_; }
  bool failed() const { return failed_; }
  // "PATH: cannot write: REASON" after a failure.
  const std::string& error() const { return error_; }

  // Writes all of `contents`: into the temporary file, flushed to the disk, or straight
  // into the target. Once per object.
  bool write(const std::string& contents);
  // Renames the temporary file over the target; nothing to do for a stream.
  bool commit();

  // write() and commit() in one; `error` receives error() on failure.
  static bool writeWhole(const std::string& path, const std::string& contents, std::string* error,
                         bool waitForReader = true);
  // The open descriptor a path names: 1 for "-" and /dev/stdout, 2 for /dev/stderr, N
  // for /dev/fd/N and /proc/self/fd/N; -1 for every other path.
  static int standardDescriptor(const std::string& path);

 private:
  void resolve();
  bool fail(const std::string& reason);
  bool failWithErrno(int error);
  bool writeStream(const std::string& contents);
  bool writeReplacement(const std::string& contents);

  std::string path_;
  std::string target_;
  bool waitForReader_;
  Kind kind_ = Kind::Refused;
  int descriptor_ = -1;  // a standard descriptor: written, never closed
  std::string tempPath_;
  bool written_ = false;
  bool failed_ = false;
  std::string error_;
};

}  // namespace qv
