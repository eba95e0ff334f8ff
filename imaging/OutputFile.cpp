// OutputFile and OutputCommit: stdio underneath, every result checked; the
// final name is only ever changed by a rename (or a link) of a complete
// file, never opened for writing.
#include "imaging/OutputFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>

#include "imaging/Errors.h"
#include "imaging/PathUtils.h"

#ifndef RENAME_NOREPLACE
#define RENAME_NOREPLACE (1 << 0)
#endif

namespace skyfold {

namespace {

constexpr const char* kTempMark = ".skyfold-";
constexpr const char* kTempEnd = ".part";
// Of the final name, at most this much goes into the temporary name, so a
// final name the file system takes always gives a temporary name it takes.
constexpr std::size_t kTempKeep = 120;

// A FIFO, socket or device under an output name.
constexpr int kSpecialFile = -1;

std::string FileMessage(const std::string& fileName, const char* what, int error) {
  std::string message = "ファイル \"" + ExpandFileName(fileName) + "\" " + what;
  if (error == kSpecialFile) {
    message += "その名前は FIFO かデバイスです。";
  } else if (error != 0) {
    message += std::strerror(error);
  }
  return message;
}

std::string FolderOf(const std::string& fileName) {
  const std::string folder = ExtractFilePath(fileName);
  return folder.empty() ? std::string("./") : folder;
}

// The first `limit` bytes of name, cut before a UTF-8 continuation byte.
std::string Prefix(const std::string& name, std::size_t limit) {
  if (name.size() <= limit) return name;
  std::size_t n = limit;
  while (n > 0 && (static_cast<unsigned char>(name[n]) & 0xC0) == 0x80) --n;
  return name.substr(0, n);
}

std::string TempNameFor(const std::string& fileName, const char* end) {
  static std::atomic<unsigned> counter{0};
  return FolderOf(fileName) + "." + Prefix(ExtractFileName(fileName), kTempKeep) + kTempMark +
         std::to_string(getpid()) + "-" + std::to_string(counter++) + end;
}

// Removes the temporary files in folder that a process no longer running
// left behind. Best effort: anything unexpected is left alone.
void RemoveLeftovers(const std::string& folder) {
  std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.c_str()), closedir);
  if (!dir) return;
  const std::size_t endLength = std::strlen(kTempEnd);
  while (const dirent* entry = readdir(dir.get())) {
    const std::string name = entry->d_name;
    if (name.size() < endLength || name[0] != '.' ||
        name.compare(name.size() - endLength, endLength, kTempEnd) != 0) {
      continue;
    }
    const std::size_t mark = name.rfind(kTempMark);
    if (mark == std::string::npos) continue;
    const std::size_t digits = mark + std::strlen(kTempMark);
    const std::size_t dash = name.find('-', digits);
    if (dash == std::string::npos || dash == digits) continue;
    const std::string pidText = name.substr(digits, dash - digits);
    if (!std::all_of(pidText.begin(), pidText.end(), [](char c) { return c >= '0' && c <= '9'; }) ||
        pidText.size() > 9) {
      continue;
    }
    const pid_t pid = static_cast<pid_t>(std::stol(pidText));
    if (pid <= 0 || pid == getpid() || kill(pid, 0) == 0 || errno != ESRCH) continue;
    const std::string path = folder + name;
    struct stat info {};
    if (lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) unlink(path.c_str());
  }
}

// An existing final name that must not be replaced by a file: a folder, a
// device, a pipe.
bool InTheWay(const std::string& fileName, int& error) {
  struct stat info {};
  if (lstat(fileName.c_str(), &info) != 0) return false;
  if (S_ISREG(info.st_mode) || S_ISLNK(info.st_mode)) return false;
  error = S_ISDIR(info.st_mode) ? EISDIR : kSpecialFile;
  return true;
}

// Places temp under final without replacing anything there: false with
// EEXIST when final exists.
bool PlaceNew(const std::string& temp, const std::string& final) {
  if (renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, final.c_str(), RENAME_NOREPLACE) == 0) {
    return true;
  }
  if (errno != EINVAL && errno != ENOSYS) return false;
  // A file system without the no-replace rename: a link fails the same way.
  if (link(temp.c_str(), final.c_str()) != 0) return false;
  unlink(temp.c_str());
  return true;
}

// An exclusive lock on a folder for as long as it lives (between processes;
// a folder that cannot be opened is simply not locked).
class FolderLock {
 public:
  explicit FolderLock(const std::string& folder)
      : fd_(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    if (fd_ >= 0) {
      while (flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
      }
    }
  }
  ~FolderLock() {
    if (fd_ >= 0) close(fd_);
  }
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

 private:
  int fd_;
};

}  // namespace

std::string OutputNameProblem(const std::string& fileName) {
  const std::string name = ExtractFileName(fileName);
  if (name.empty()) return FileMessage(fileName, "を作成できません。", EISDIR);
  // The final name must fit; its temporary name is kept short enough.
  if (name.size() > NAME_MAX) return FileMessage(fileName, "を作成できません。", ENAMETOOLONG);
  if (fileName.size() + 1 > PATH_MAX) {
    return FileMessage(fileName, "を作成できません。", ENAMETOOLONG);
  }
  struct stat info {};
  const std::string folder = FolderOf(fileName);
  if (stat(folder.c_str(), &info) != 0) return FileMessage(fileName, "を作成できません。", errno);
  if (!S_ISDIR(info.st_mode)) return FileMessage(fileName, "を作成できません。", ENOTDIR);
  int error = 0;
  if (InTheWay(fileName, error)) return FileMessage(fileName, "を作成できません。", error);
  return {};
}

OutputFile::OutputFile(const std::string& fileName, OutputCommit* commit)
    : fileName_(fileName), commit_(commit) {
  int error = 0;
  if (InTheWay(fileName, error))
    throw FileError(FileMessage(fileName, "を作成できません。", error));
  const std::string folder = FolderOf(fileName);
  if (commit == nullptr || commit->FirstInFolder(folder)) RemoveLeftovers(folder);
  tempName_ = TempNameFor(fileName, kTempEnd);
  const int fd = open(tempName_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) {
    error = errno;
    throw FileError(FileMessage(fileName, "を作成できません。", error));
  }
  file_ = fdopen(fd, "wb");
  if (file_ == nullptr) {
    error = errno;
    ::close(fd);
    unlink(tempName_.c_str());
    throw FileError(FileMessage(fileName, "を作成できません。", error));
  }
}

OutputFile::~OutputFile() {
  if (file_ != nullptr) {
    std::fclose(file_);
    unlink(tempName_.c_str());
  }
}

void OutputFile::fail(const char* what) {
  const int error = errno;
  std::string message = FileMessage(fileName_, what, error);
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
  unlink(tempName_.c_str());
  throw FileError(message);
}

void OutputFile::write(const void* data, std::size_t size) {
  if (size == 0) return;
  if (file_ == nullptr) {
    errno = EBADF;
    fail("に書き込めません。");
  }
  errno = 0;
  if (std::fwrite(data, 1, size, file_) != size) fail("に書き込めません。");
}

void OutputFile::seek(long offset) {
  if (file_ == nullptr) {
    errno = EBADF;
    fail("に書き込めません。");
  }
  errno = 0;
  if (std::fseek(file_, offset, SEEK_SET) != 0) fail("に書き込めません。");
}

void OutputFile::checkStream() {
  if (file_ == nullptr) return;
  // errno still holds the reason of the write that set the flag.
  if (std::ferror(file_)) fail("に書き込めません。");
}

void OutputFile::close() {
  if (file_ == nullptr) return;
  errno = 0;
  // Data still in the stdio buffer meets a full disk only here.
  if (std::ferror(file_) || std::fflush(file_) != 0) fail("に書き込めません。");
  std::FILE* file = file_;
  file_ = nullptr;
  errno = 0;
  if (std::fclose(file) != 0) {
    const int error = errno;
    unlink(tempName_.c_str());
    throw FileError(FileMessage(fileName_, "を閉じられません。", error));
  }
  if (commit_ != nullptr) {
    try {
      commit_->Stage(tempName_, fileName_);
    } catch (...) {
      unlink(tempName_.c_str());
      throw;
    }
    return;
  }
  int inTheWay = 0;
  if (InTheWay(fileName_, inTheWay) || std::rename(tempName_.c_str(), fileName_.c_str()) != 0) {
    const int error = inTheWay != 0 ? inTheWay : errno;
    unlink(tempName_.c_str());
    throw FileError(FileMessage(fileName_, "を作成できません。", error));
  }
}

OutputCommit::OutputCommit(bool replaceExisting) : replace_(replaceExisting) {}

OutputCommit::~OutputCommit() { Discard(); }

void OutputCommit::Stage(const std::string& tempName, const std::string& finalName) {
  std::lock_guard lock(mutex_);
  staged_.push_back(Staged{tempName, finalName});
}

bool OutputCommit::FirstInFolder(const std::string& folder) {
  std::lock_guard lock(mutex_);
  if (std::find(folders_.begin(), folders_.end(), folder) != folders_.end()) return false;
  folders_.push_back(folder);
  return true;
}

void OutputCommit::Discard() noexcept {
  std::lock_guard lock(mutex_);
  for (const Staged& s : staged_) unlink(s.temp.c_str());
  staged_.clear();
}

std::vector<std::string> OutputCommit::Commit() {
  std::lock_guard lock(mutex_);
  std::sort(staged_.begin(), staged_.end(),
            [](const Staged& a, const Staged& b) { return a.final < b.final; });
  // Folders locked in name order, so that two processes never wait on each
  // other's second folder.
  std::vector<std::string> folders;
  for (const Staged& s : staged_) folders.push_back(FolderOf(s.final));
  std::sort(folders.begin(), folders.end());
  folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
  std::vector<std::unique_ptr<FolderLock>> locks;
  for (const std::string& folder : folders) locks.push_back(std::make_unique<FolderLock>(folder));

  struct Placed {
    std::string final;
    std::string backup;  // the old file kept aside, or empty
  };
  std::vector<Placed> placed;
  auto undo = [&] {
    for (auto it = placed.rbegin(); it != placed.rend(); ++it) {
      if (it->backup.empty()) {
        unlink(it->final.c_str());
      } else {
        std::rename(it->backup.c_str(), it->final.c_str());
      }
    }
  };
  for (std::size_t i = 0; i < staged_.size(); ++i) {
    const Staged& s = staged_[i];
    Placed p{s.final, {}};
    std::string failure;
    int error = 0;
    if (InTheWay(s.final, error)) {
      failure = FileMessage(s.final, "を作成できません。", error);
    } else if (!replace_) {
      if (!PlaceNew(s.temp, s.final)) {
        error = errno;
        failure = error == EEXIST
                      ? "ファイル \"" + ExpandFileName(s.final) + "\" はすでにあります。"
                      : FileMessage(s.final, "を作成できません。", error);
      }
    } else {
      struct stat info {};
      if (lstat(s.final.c_str(), &info) == 0) {
        p.backup = TempNameFor(s.final, ".old");
        // Without a backup the old file could not be put back: refuse.
        if (link(s.final.c_str(), p.backup.c_str()) != 0) {
          failure = FileMessage(s.final, "を置き換えられません。", errno);
          p.backup.clear();
        }
      }
      if (failure.empty() && std::rename(s.temp.c_str(), s.final.c_str()) != 0) {
        failure = FileMessage(s.final, "を作成できません。", errno);
        if (!p.backup.empty()) unlink(p.backup.c_str());
      }
    }
    if (!failure.empty()) {
      undo();
      for (std::size_t j = i; j < staged_.size(); ++j) unlink(staged_[j].temp.c_str());
      staged_.clear();
      throw FileError(failure);
    }
    placed.push_back(std::move(p));
  }
  std::vector<std::string> paths;
  for (const Placed& p : placed) {
    if (!p.backup.empty()) unlink(p.backup.c_str());
    paths.push_back(ExpandFileName(p.final));
  }
  staged_.clear();
  return paths;
}

}  // namespace skyfold
