// skyfold-cli's -t names in any case, both commands: the files written have
// the named type in name and content. And a closed stdout does not kill a
// run by SIGPIPE.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "imaging/BmpIO.h"
#include "support/CliRunner.h"
#include "support/PanoramaTestImages.h"

namespace skyfold {
namespace {

using test::RunCli;
using test::TempDir;

struct TypeName {
  const char* name;
  const char* ext;
  const char* magic;  // the file's first two bytes
};

const TypeName kNames[] = {{"JPG", ".jpg", "\xFF\xD8"},  {"Jpeg", ".jpg", "\xFF\xD8"},
                           {"jpeg", ".jpg", "\xFF\xD8"}, {"TIF", ".tif", "II"},
                           {"tiff", ".tif", "II"},       {"Tiff", ".tif", "II"},
                           {"BMP", ".bmp", "BM"},        {"Bmp", ".bmp", "BM"}};

class TypeNames : public ::testing::TestWithParam<TypeName> {
 protected:
  void SetUp() override {
    pano_ = work_.file("pano.bmp");
    SaveBitmapAsBmp(pano_, test::DrawTexturedPanorama(128));
  }
  TempDir scratch_, work_;
  std::string pano_;
};

TEST_P(TypeNames, WriteThatTypeInEitherDirection) {
  const TypeName& t = GetParam();
  test::CliResult r =
      RunCli(scratch_, {"to-cube", "-q", "-s", "64", "-t", t.name, "-o", work_.path(), pano_});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string face = work_.file(std::string("pano_front") + t.ext);
  ASSERT_TRUE(std::filesystem::exists(face)) << r.out;
  EXPECT_EQ(test::ReadText(face).substr(0, 2), t.magic);

  // The output's own extension does not decide when -t is given.
  const std::string out = work_.file("back.jpg");
  r = RunCli(scratch_, {"to-pano", "-q", "-f", "-w", "256", "-t", t.name, "-o", out, face});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(test::ReadText(out).substr(0, 2), t.magic);
}

INSTANTIATE_TEST_SUITE_P(AnyCase, TypeNames, ::testing::ValuesIn(kNames),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TypeNameRefusal, AnUnknownTypeIsAUsageErrorAndWritesNothing) {
  TempDir scratch, work;
  SaveBitmapAsBmp(work.file("pano.bmp"), test::DrawTexturedPanorama(128));
  for (const char* name : {"gif", "JPE", "tifff", "webp-lossy", ""}) {
    const test::CliResult r =
        RunCli(scratch, {"to-cube", "-q", "-t", name, "-o", work.path(), work.file("pano.bmp")});
    EXPECT_EQ(r.status, 2) << name << ": " << r.err;
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(work.path()), {}), 1);
}

TEST(ClosedStdout, DoesNotKillTheRun) {
  TempDir work;
  SaveBitmapAsBmp(work.file("pano.bmp"), test::DrawTexturedPanorama(128));
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  close(fds[0]);  // nobody will ever read what the CLI lists
  const std::string out = work.path(), pano = work.file("pano.bmp");
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], STDOUT_FILENO);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDERR_FILENO);
    signal(SIGPIPE, SIG_DFL);  // as a shell would start it
    execl(SKYFOLD_CLI_PATH, SKYFOLD_CLI_PATH, "to-cube", "-q", "-s", "64", "-t", "bmp", "-o",
          out.c_str(), pano.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_FALSE(WIFSIGNALED(status)) << "killed by signal " << WTERMSIG(status);
  for (const char* side : {"left", "front", "right", "back", "top", "bottom"}) {
    EXPECT_TRUE(std::filesystem::exists(work.file(std::string("pano_") + side + ".bmp"))) << side;
  }
}

}  // namespace
}  // namespace skyfold
