// OutputFile: what it commits is on disk, what it does not commit is gone,
// and every failure (creation, a full device) is an error naming the file.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>

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

TEST_F(OutputFileTest, FullDeviceIsAnErrorAndTheDeviceIsNotRemoved) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
  // Small writes sit in the buffer: the failure shows at close.
  {
    OutputFile out("/dev/full");
    out.write("abc", 3);
    try {
      out.close();
      FAIL() << "reported as success";
    } catch (const FileError& e) {
      EXPECT_NE(std::string(e.what()).find("/dev/full"), std::string::npos);
    }
  }
  // Large writes fail at once.
  {
    OutputFile out("/dev/full");
    const std::string big(1 << 20, 'x');
    EXPECT_THROW(out.write(big.data(), big.size()), FileError);
  }
  // A library writing through the stream itself is checked afterwards.
  {
    OutputFile out("/dev/full");
    const std::string big(1 << 20, 'x');
    std::fwrite(big.data(), 1, big.size(), out.get());
    EXPECT_THROW(out.checkStream(), FileError);
  }
  EXPECT_TRUE(fs::exists("/dev/full"));
}

}  // namespace
}  // namespace skyfold
