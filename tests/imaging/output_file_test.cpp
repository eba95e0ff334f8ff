// OutputFile: what it commits is on disk, what it does not commit is gone,
// the final name changes only when a file is complete, and every failure
// (creation, a full disk) is an error naming the file.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "imaging/Errors.h"
#include "imaging/OutputFile.h"

namespace skyfold {
namespace {

namespace fs = std::filesystem;

class OutputFileTest : public ::testing::Test {
 protected:
  OutputFileTest() {
    std::random_device rd;
    folder_ = fs::temp_directory_path() / ("skyfold_out_" + std::to_string(rd()));
    fs::create_directories(folder_);
  }
  ~OutputFileTest() override {
    std::error_code ec;
    fs::remove_all(folder_, ec);
  }
  std::string file(const std::string& name) const { return (folder_ / name).string(); }
  static std::string Contents(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  fs::path folder_;
};

TEST_F(OutputFileTest, ClosedFileHoldsWhatWasWrittenAndPatched) {
  const std::string name = file("a.bin");
  std::ofstream(name) << std::string(1000, 'o');  // replaced, not overwritten in place
  OutputFile out(name);
  out.write("0000tail", 8);
  out.seek(0);
  out.write("head", 4);
  out.close();
  EXPECT_EQ(Contents(name), "headtail");
  out.close();  // a second close is harmless
  EXPECT_EQ(Contents(name), "headtail");
}

TEST_F(OutputFileTest, FileNotCommittedIsRemoved) {
  const std::string name = file("half.bin");
  try {
    OutputFile out(name);
    out.write("partial", 7);
    throw std::runtime_error("failure on the way");
  } catch (const std::runtime_error&) {
  }
  EXPECT_FALSE(fs::exists(name));
}

TEST_F(OutputFileTest, CreationFailureNamesTheFullPathAndTheReason) {
  const std::string name = file("no/such/dir/x.bin");
  try {
    OutputFile out(name);
    FAIL() << "no error";
  } catch (const FileError& e) {
    EXPECT_EQ(e.what(),
              "ファイル \"" + name + "\" を作成できません。" + std::string(std::strerror(ENOENT)));
  }
  // A relative name is shown expanded.
  try {
    OutputFile out("no-such-dir-here/x.bin");
    FAIL() << "no error";
  } catch (const FileError& e) {
    const std::string full = (fs::current_path() / "no-such-dir-here/x.bin").string();
    EXPECT_NE(std::string(e.what()).find("\"" + full + "\""), std::string::npos) << e.what();
  }
}

TEST_F(OutputFileTest, ADeviceOrAFolderUnderTheNameIsRefusedAndLeftAlone) {
  fs::create_directories(file("taken"));
  for (const std::string& name : {std::string("/dev/full"), file("taken")}) {
    if (!fs::exists(name)) continue;
    EXPECT_THROW(OutputFile{name}, FileError) << name;
    EXPECT_FALSE(OutputNameProblem(name).empty()) << name;
    EXPECT_TRUE(fs::exists(name));
  }
  EXPECT_TRUE(OutputNameProblem(file("free.bin")).empty());
  EXPECT_FALSE(OutputNameProblem(file(std::string(300, 'n'))).empty());
  EXPECT_FALSE(OutputNameProblem(file("no/such/x.bin")).empty());
}

// A dangling symlink under the final name is replaced, never followed out of
// the folder.
TEST_F(OutputFileTest, ASymlinkUnderTheNameIsReplacedNotFollowed) {
  const std::string outside = file("outside.bin");
  fs::create_symlink(outside, file("link.bin"));
  OutputFile out(file("link.bin"));
  out.write("x", 1);
  out.close();
  EXPECT_FALSE(fs::exists(outside));
  EXPECT_FALSE(fs::is_symlink(file("link.bin")));
  EXPECT_EQ(Contents(file("link.bin")), "x");
}

// A disk that fills up (a 64 KB tmpfs, mounted where we may) fails the
// write or the close, leaves the old file whole and no temporary file.
TEST_F(OutputFileTest, AFullDiskFailsAndLeavesTheOldFileWhole) {
  const std::string mount = file("small");
  fs::create_directories(mount);
  const std::string command = "mount -t tmpfs -o size=64k tmpfs '" + mount + "' 2>/dev/null";
  if (std::system(command.c_str()) != 0) GTEST_SKIP() << "cannot mount a tmpfs here";
  const std::string name = mount + "/face.bin";
  std::ofstream(name) << "old";
  const std::string big(1 << 20, 'x');
  EXPECT_THROW(
      {
        OutputFile out(name);
        out.write(big.data(), big.size());
        out.close();
      },
      FileError);
  EXPECT_EQ(Contents(name), "old");
  EXPECT_EQ(std::distance(fs::directory_iterator(mount), fs::directory_iterator{}), 1);
  std::system(("umount '" + mount + "'").c_str());
}

// A commit places all of a job's files or none: an existing name refuses
// the whole set without replacement, and with replacement every old file
// is replaced.
TEST_F(OutputFileTest, ACommitPlacesAllItsFilesOrNone) {
  auto stage = [&](OutputCommit& commit, const std::string& name, const char* text) {
    OutputFile out(file(name), &commit);
    out.write(text, std::strlen(text));
    out.close();
    EXPECT_FALSE(fs::exists(file(name)) && Contents(file(name)) == text) << "placed too early";
  };
  std::ofstream(file("b.bin")) << "old b";
  {
    OutputCommit commit(false);
    stage(commit, "a.bin", "new a");
    stage(commit, "b.bin", "new b");
    stage(commit, "c.bin", "new c");
    EXPECT_THROW(commit.Commit(), FileError);
  }
  EXPECT_FALSE(fs::exists(file("a.bin")));
  EXPECT_FALSE(fs::exists(file("c.bin")));
  EXPECT_EQ(Contents(file("b.bin")), "old b");
  {
    OutputCommit commit(true);
    stage(commit, "a.bin", "new a");
    stage(commit, "b.bin", "new b");
    const std::vector<std::string> placed = commit.Commit();
    EXPECT_EQ(placed, (std::vector<std::string>{file("a.bin"), file("b.bin")}));
  }
  EXPECT_EQ(Contents(file("a.bin")), "new a");
  EXPECT_EQ(Contents(file("b.bin")), "new b");
  {
    OutputCommit dropped(true);
    stage(dropped, "d.bin", "d");
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(folder_), fs::directory_iterator{}), 2)
      << "no temporary file stays behind";
}

}  // namespace
}  // namespace skyfold
