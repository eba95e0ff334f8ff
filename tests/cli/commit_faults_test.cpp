// skyfold-cli under real faults: a disk that fills up, a folder that cannot
// be written, a run killed with SIGKILL in the middle of writing, SIGTERM,
// and two runs racing for the same names. Each leaves the complete old
// files or the complete new ones, and never a partial file under a final
// name.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "imaging/BmpIO.h"
#include "imaging/JpegIO.h"
#include "support/CliRunner.h"
#include "support/PanoramaTestImages.h"

namespace skyfold {
namespace {

namespace fs = std::filesystem;
using test::CliResult;
using test::RunCli;
using test::TempDir;

// Every file of folder by name, with its bytes.
std::map<std::string, std::vector<char>> Files(const std::string& folder) {
  std::map<std::string, std::vector<char>> files;
  for (const auto& e : fs::directory_iterator(folder)) {
    files[e.path().filename().string()] = test::ReadBytes(e.path().string());
  }
  return files;
}

bool IsTemporary(const std::string& name) { return name.find(".skyfold-") != std::string::npos; }

// A tmpfs of `size` mounted on folder for the test's length (skipped where
// the test may not mount).
class Mount {
 public:
  Mount(const std::string& folder, const std::string& size) : folder_(folder) {
    fs::create_directories(folder);
    const std::string command =
        "mount -t tmpfs -o size=" + size + " tmpfs " + test::ShellQuote(folder) + " 2>/dev/null";
    mounted_ = std::system(command.c_str()) == 0;
  }
  ~Mount() {
    if (mounted_) std::system(("umount " + test::ShellQuote(folder_)).c_str());
  }
  bool mounted() const { return mounted_; }
  void ReadOnly() { std::system(("mount -o remount,ro " + test::ShellQuote(folder_)).c_str()); }

 private:
  std::string folder_;
  bool mounted_ = false;
};

// Starts skyfold-cli with args in the background; returns its pid.
pid_t Start(const std::vector<std::string>& args) {
  const pid_t pid = fork();
  if (pid == 0) {
    std::vector<char*> argv{const_cast<char*>(SKYFOLD_CLI_PATH)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    freopen("/dev/null", "w", stdout);
    freopen("/dev/null", "w", stderr);
    execv(SKYFOLD_CLI_PATH, argv.data());
    _exit(127);
  }
  return pid;
}

int Wait(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

class CommitFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    SaveBitmapAsBmp(work.file("a.bmp"), test::DrawTexturedPanorama(1024));
    Bitmap other = test::DrawTexturedPanorama(1024);
    std::fill(other.data(), other.data() + other.rowBytes() * 16, 0);
    SaveBitmapAsBmp(work.file("b.bmp"), other);
  }
  std::vector<std::string> ToCube(const std::string& folder, const std::string& pano,
                                  const std::string& size, bool force) {
    std::vector<std::string> args{"to-cube", "-q", "-t",   "bmp", "-s",
                                  size,      "-n", "pano", "-o",  folder};
    if (force) args.push_back("-f");
    args.push_back(work.file(pano));
    return args;
  }
  TempDir work;
  TempDir scratch;
};

TEST_F(CommitFaults, AFullDiskKeepsTheOldFacesWholeOrWritesNone) {
  const std::string disk = work.file("disk");
  const Mount mount(disk, "1m");
  if (!mount.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
  // Old faces that fit; the new ones (six 512² faces, 4.5 MB) do not.
  ASSERT_EQ(RunCli(scratch, ToCube(disk, "a.bmp", "128", false)).status, 0);
  const auto old = Files(disk);
  CliResult r = RunCli(scratch, ToCube(disk, "b.bmp", "512", true));
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(Files(disk), old);
  // Without --force into an empty folder: nothing at all.
  for (const auto& [name, bytes] : old) fs::remove(disk + "/" + name);
  r = RunCli(scratch, ToCube(disk, "b.bmp", "512", false));
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_TRUE(Files(disk).empty());
}

TEST_F(CommitFaults, AReadOnlyFolderFailsWithNothingChanged) {
  const std::string disk = work.file("ro");
  Mount mount(disk, "4m");
  if (!mount.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
  ASSERT_EQ(RunCli(scratch, ToCube(disk, "a.bmp", "64", false)).status, 0);
  const auto old = Files(disk);
  mount.ReadOnly();
  const CliResult r = RunCli(scratch, ToCube(disk, "b.bmp", "64", true));
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.err.find("pano_"), std::string::npos) << r.err;
  EXPECT_EQ(Files(disk), old);
}

// With two threads a JPEG source's side faces are written during its warp:
// a full disk or a read-only folder fails them as it fails the faces one
// thread writes after the warp, with the same message and nothing changed.
TEST_F(CommitFaults, JpegFacesWrittenDuringTheWarpFailAsThoseWrittenAfterIt) {
  // Faces of 1024 (far more than the disk holds, so the first one fails
  // whichever way they are written).
  SaveBitmapAsJpeg(work.file("c.jpg"), test::DrawTexturedPanorama(4096), 95);
  for (const bool full : {true, false}) {
    const std::string disk = work.file(full ? "full" : "readonly");
    Mount mount(disk, full ? "256k" : "4m");
    if (!mount.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
    auto toCube = [&](const std::string& threads, const std::string& size) {
      return std::vector<std::string>{
          "--threads", threads, "to-cube", "-q", "-t", "jpg", "-s",
          size,        "-n",    "pano",    "-f", "-o", disk,  work.file("c.jpg")};
    };
    ASSERT_EQ(RunCli(scratch, toCube("1", "64")).status, 0);
    const auto old = Files(disk);
    if (!full) mount.ReadOnly();
    const CliResult one = RunCli(scratch, toCube("1", "1024"));
    const CliResult two = RunCli(scratch, toCube("2", "1024"));
    EXPECT_EQ(one.status, 3) << one.err;
    EXPECT_EQ(two.status, 3) << two.err;
    EXPECT_EQ(two.err, one.err);
    EXPECT_EQ(Files(disk), old);
  }
}

// Killed while its faces are being written: only temporary names exist,
// which the next run in the folder removes.
TEST_F(CommitFaults, ARunKilledWhileWritingLeavesNoFileUnderAFinalName) {
  const std::string out = work.file("killed");
  fs::create_directories(out);
  const pid_t pid = Start(ToCube(out, "a.bmp", "4096", false));
  bool sawTemporary = false;
  for (int i = 0; i < 20000 && !sawTemporary; ++i) {
    for (const auto& e : fs::directory_iterator(out)) {
      if (IsTemporary(e.path().filename().string())) sawTemporary = true;
    }
    if (!sawTemporary) std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  kill(pid, SIGKILL);
  Wait(pid);
  ASSERT_TRUE(sawTemporary) << "the run ended before it wrote";
  for (const auto& e : fs::directory_iterator(out)) {
    EXPECT_TRUE(IsTemporary(e.path().filename().string())) << e.path();
  }
  ASSERT_EQ(RunCli(scratch, ToCube(out, "b.bmp", "64", false)).status, 0);
  for (const auto& [name, bytes] : Files(out)) EXPECT_FALSE(IsTemporary(name)) << name;
  EXPECT_EQ(Files(out).size(), 6u);
}

TEST_F(CommitFaults, SigtermCancelsTheRunWhichSaysSoAndWritesNothing) {
  const std::string out = work.file("stopped");
  fs::create_directories(out);
  const std::string err = work.file("err.txt");
  std::ofstream(err).close();
  const pid_t pid = fork();
  if (pid == 0) {
    freopen(err.c_str(), "a", stderr);
    freopen("/dev/null", "w", stdout);
    execl(SKYFOLD_CLI_PATH, SKYFOLD_CLI_PATH, "to-cube", "-t", "bmp", "-s", "4096", "-o",
          out.c_str(), work.file("a.bmp").c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  // Once it has begun (its first progress line), stop it.
  for (int i = 0; i < 5000 && fs::file_size(err) == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  kill(pid, SIGTERM);
  EXPECT_EQ(Wait(pid), 130);
  const std::string text = test::ReadText(err);
  EXPECT_NE(text.find("キャンセルしました。"), std::string::npos) << text;
  EXPECT_TRUE(Files(out).empty());
}

// Two runs at once on the same names without --force: one wins, the other
// is refused or fails, and the six faces all come from the winner.
TEST_F(CommitFaults, TwoRacingRunsLeaveOneRunsCompleteSet) {
  const std::string expectA = work.file("expectA"), expectB = work.file("expectB");
  for (const auto& [folder, pano] : {std::pair{expectA, "a.bmp"}, std::pair{expectB, "b.bmp"}}) {
    fs::create_directories(folder);
    ASSERT_EQ(RunCli(scratch, ToCube(folder, pano, "256", false)).status, 0);
  }
  const auto a = Files(expectA), b = Files(expectB);
  for (int round = 0; round < 4; ++round) {
    const std::string out = work.file("race" + std::to_string(round));
    fs::create_directories(out);
    const pid_t first = Start(ToCube(out, "a.bmp", "256", false));
    const pid_t second = Start(ToCube(out, "b.bmp", "256", false));
    const int s1 = Wait(first), s2 = Wait(second);
    EXPECT_TRUE((s1 == 0) != (s2 == 0)) << s1 << " " << s2;
    const auto result = Files(out);
    EXPECT_TRUE(result == a || result == b) << "round " << round;
  }
}

}  // namespace
}  // namespace skyfold
