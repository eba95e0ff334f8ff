// OutputFile: an output file written under a temporary name in its own
// folder and put in place only when it is complete, so that no reader, and
// no later run, ever finds half a file under the final name.
//
// Creating it raises FileError "ファイル "%s" を作成できません。%s"; a failed
// write, flush or close raises FileError naming the file, so a full disk is
// never reported as success. close() completes the file: without an
// OutputCommit it then replaces fileName at once; with one it is handed to
// the commit, which places a job's files together. A file not completed (an
// exception on the way) is removed, and the final name is never touched.
//
// Temporary names are ".NAME.skyfold-PID-N.part" beside the final name; the
// leftovers of a process that died (kill -9, power loss) are removed by the
// next output made in that folder.
#pragma once

#include <cstddef>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace skyfold {

class OutputCommit;

class OutputFile {
 public:
  explicit OutputFile(const std::string& fileName, OutputCommit* commit = nullptr);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  void write(const void* data, std::size_t size);
  // Seeks to an absolute position (for patching a header).
  void seek(long offset);
  // Flushes and closes, then places the file (or hands it to the commit);
  // throws FileError when any of that fails.
  void close();

  // For libraries that write through stdio themselves (libjpeg); check with
  // checkStream() / close() afterwards.
  std::FILE* get() const { return file_; }
  // Throws FileError when the stream's error flag is set.
  void checkStream();
  const std::string& fileName() const { return fileName_; }

 private:
  [[noreturn]] void fail(const char* what);
  std::string fileName_;
  std::string tempName_;
  OutputCommit* commit_;
  std::FILE* file_ = nullptr;
};

// Why fileName cannot be an output, or "" when it can: its folder is
// missing, a folder or something other than a file is in the way, or the
// name is too long for the file system. Checked before a job writes
// anything, so that a job never stops half-way over a name.
std::string OutputNameProblem(const std::string& fileName);

// The completed files of one job, placed under their final names together:
// all of them or none. Without replacement an existing final name (even one
// that appears while the job runs, made by another process) fails the
// commit; with it, the old files are kept aside until every new one is in
// place and restored if one fails. Commits of the same folder are serialised
// between processes (a lock on the folder), so two jobs racing for the same
// names leave one job's complete set.
class OutputCommit {
 public:
  explicit OutputCommit(bool replaceExisting);
  // Removes every file handed over and not committed.
  ~OutputCommit();
  OutputCommit(const OutputCommit&) = delete;
  OutputCommit& operator=(const OutputCommit&) = delete;

  // Takes over the completed temporary file for finalName. Thread-safe.
  void Stage(const std::string& tempName, const std::string& finalName);

  // Places every staged file, in the order of their final names; returns
  // their full paths in that order. Throws FileError (and places nothing)
  // when one cannot be placed.
  std::vector<std::string> Commit();

  // Removes the staged files without placing them.
  void Discard() noexcept;

  // True the first time a folder is named: the job's later files in it need
  // not look for leftovers again.
  bool FirstInFolder(const std::string& folder);

 private:
  struct Staged {
    std::string temp;
    std::string final;
  };
  bool replace_;
  std::mutex mutex_;
  std::vector<Staged> staged_;
  std::vector<std::string> folders_;
};

}  // namespace skyfold
