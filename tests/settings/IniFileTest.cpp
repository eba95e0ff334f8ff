// The ini file layer on real files: layout kept, one access per call, writes
// that are all-or-nothing.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QTemporaryDir>
#include <filesystem>

#include "app/IniFile.h"
#include "imaging/Errors.h"
#include "settings/SettingsTestFiles.h"

namespace skyfold {
namespace {

using testing::FolderEntries;
using testing::PathIn;
using testing::ReadText;
using testing::WriteText;

class IniFileTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
  std::string Path(const std::string& name = "skyfold.ini") const { return PathIn(dir_, name); }
  QTemporaryDir dir_;
};

TEST_F(IniFileTest, MissingFileSectionOrKeyReadsAsTheDefault) {
  TIniFile ini(Path());
  EXPECT_EQ(ini.ReadString("data", "Key", "dflt"), "dflt");
  EXPECT_FALSE(ini.Read("data", "Key").has_value());
  WriteText(Path(), "[other]\nKey=1\n[data]\nOther=2\n");
  EXPECT_EQ(ini.ReadString("data", "Key", "dflt"), "dflt");
  EXPECT_EQ(ini.ReadString("missing", "Key", "dflt"), "dflt");
  EXPECT_EQ(ini.ReadString("other", "Key", "dflt"), "1");
}

TEST_F(IniFileTest, SectionsAndKeysIgnoreCaseAndTheFirstValueCounts) {
  WriteText(Path(), "[Data]\r\n  CubeImageType = 2 \r\ncubeimagetype=7\r\n");
  TIniFile ini(Path());
  EXPECT_EQ(ini.ReadString("DATA", "CUBEIMAGETYPE", ""), "2");
  ini.WriteString("data", "cubeImageType", "3");
  // The key keeps its spelling and place; the other line and CRLF stay.
  EXPECT_EQ(ReadText(Path()), "[Data]\r\n  CubeImageType =3\r\ncubeimagetype=7\r\n");
  // Non-ASCII names compare without case too.
  ini.WriteString("Ärger", "Größe", "1");
  EXPECT_EQ(ini.ReadString("ÄRGER", "GRÖßE", "x"), "1");
}

TEST_F(IniFileTest, NewKeysGoToTheEndOfTheirSectionAndEverythingElseStays) {
  const std::string original =
      "; written by hand\n"
      "[data]\n"
      "# keep me\n"
      "A=1\n"
      "not a key line\n"
      "B=2\n"
      "\n"
      "[later]\n"
      "C=3\n";
  WriteText(Path(), original);
  TIniFile ini(Path());
  ini.WriteString("data", "New", "x");
  ini.WriteString("fresh", "K", "v");
  ini.WriteString("later", "D", "4");
  EXPECT_EQ(ReadText(Path()),
            "; written by hand\n"
            "[data]\n"
            "# keep me\n"
            "A=1\n"
            "not a key line\n"
            "B=2\n"
            "New=x\n"
            "\n"
            "[later]\n"
            "C=3\n"
            "D=4\n"
            "[fresh]\n"
            "K=v\n");
  ini.DeleteKey("DATA", "a");
  ini.DeleteKey("data", "absent");
  EXPECT_FALSE(ini.Read("data", "A").has_value());
  EXPECT_EQ(ini.ReadString("data", "B", ""), "2");
  EXPECT_NE(ReadText(Path()).find("# keep me\nnot a key line\n"), std::string::npos);
}

TEST_F(IniFileTest, CommentLinesAreNeverTakenForKeys) {
  WriteText(Path(), "[data]\n;A=commented\n#B=commented\n");
  TIniFile ini(Path());
  EXPECT_EQ(ini.ReadString("data", ";A", "none"), "none");
  ini.WriteString("data", "A", "real");
  EXPECT_EQ(ini.ReadString("data", "A", ""), "real");
  // A section without keys gets its first key right below its header.
  EXPECT_EQ(ReadText(Path()), "[data]\nA=real\n;A=commented\n#B=commented\n");
}

TEST_F(IniFileTest, ValuesComeBackUpTo2047CharactersWithoutSplittingOne) {
  TIniFile ini(Path());
  ini.WriteString("data", "Ascii", std::string(3000, 'a'));
  EXPECT_EQ(ini.ReadString("data", "Ascii", ""), std::string(2047, 'a'));
  std::string wide;
  for (int i = 0; i < 2100; ++i) wide += "あ";
  ini.WriteString("data", "Wide", wide);
  const std::string back = ini.ReadString("data", "Wide", "");
  EXPECT_EQ(back.size(), 2047u * 3u);
  EXPECT_EQ(back, wide.substr(0, 2047 * 3));
}

TEST_F(IniFileTest, TextThatWouldBreakTheLineStructureIsRefused) {
  TIniFile ini(Path());
  ini.WriteString("data", "A", "1");
  const std::string before = ReadText(Path());
  EXPECT_THROW(ini.WriteString("data", "A", "1\nCubeImageType=9"), FileError);
  EXPECT_THROW(ini.WriteString("data", "K=V", "1"), FileError);
  EXPECT_THROW(ini.WriteString("da]ta", "K", "1"), FileError);
  EXPECT_EQ(ReadText(Path()), before);
}

// Read-only cases: the mode bits are honoured even for root, so these hold
// on a CI machine that runs the tests as superuser.
TEST_F(IniFileTest, AReadOnlyFileIsRefusedAndKeptAsItWas) {
  const std::string original = "[data]\nA=1\n";
  WriteText(Path(), original);
  ASSERT_EQ(::chmod(Path().c_str(), 0444), 0);
  TIniFile ini(Path());
  try {
    ini.WriteString("data", "A", "2");
    FAIL() << "a read-only file was written";
  } catch (const FileError& error) {
    EXPECT_EQ(std::string(error.what()), Path() + " に書き込めません");
  }
  EXPECT_THROW(ini.DeleteKey("data", "A"), FileError);
  EXPECT_EQ(ReadText(Path()), original);
  EXPECT_EQ(FolderEntries(dir_.path().toStdString()), std::vector<std::string>{"skyfold.ini"});
  ::chmod(Path().c_str(), 0644);
}

TEST_F(IniFileTest, AReadOnlyFolderIsRefusedAndItsFileKeptAsItWas) {
  const std::string original = "[data]\nA=1\n";
  WriteText(Path(), original);
  const std::string folder = dir_.path().toStdString();
  ASSERT_EQ(::chmod(folder.c_str(), 0555), 0);
  TIniFile ini(Path());
  EXPECT_THROW(ini.WriteString("data", "A", "2"), FileError);
  TIniFile fresh(Path("new.ini"));
  EXPECT_THROW(fresh.WriteString("data", "A", "2"), FileError);
  ::chmod(folder.c_str(), 0755);
  EXPECT_EQ(ReadText(Path()), original);
  EXPECT_EQ(FolderEntries(folder), std::vector<std::string>{"skyfold.ini"});
}

TEST_F(IniFileTest, AFolderNobodyCanWriteAndAMissingFolderAreRefused) {
  TIniFile proc("/proc/skyfold-settings-test.ini");
  EXPECT_THROW(proc.WriteString("data", "A", "1"), FileError);
  TIniFile missing(Path("no/such/folder/skyfold.ini"));
  try {
    missing.WriteString("data", "A", "1");
    FAIL() << "a file in a missing folder was written";
  } catch (const FileError& error) {
    EXPECT_EQ(std::string(error.what()), Path("no/such/folder/skyfold.ini") + " に書き込めません");
  }
}

TEST_F(IniFileTest, ReplacingTheFileKeepsItsPermissions) {
  WriteText(Path(), "[data]\nA=1\n");
  ASSERT_EQ(::chmod(Path().c_str(), 0640), 0);
  TIniFile(Path()).WriteString("data", "A", "2");
  struct stat info {};
  ASSERT_EQ(::stat(Path().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
  EXPECT_EQ(ReadText(Path()), "[data]\nA=2\n");
}

TEST_F(IniFileTest, AFileWithoutAFinalLineBreakGetsNewKeysOnTheirOwnLine) {
  WriteText(Path(), "\xEF\xBB\xBF[data]\nA=1");
  TIniFile ini(Path());
  EXPECT_EQ(ini.ReadString("data", "A", ""), "1");
  ini.WriteString("data", "B", "2");
  EXPECT_EQ(ReadText(Path()), "\xEF\xBB\xBF[data]\nA=1\nB=2\n");
}

}  // namespace
}  // namespace skyfold
