// The settings store on real ini files (and on the per-user store): lookup,
// the window's nine settings, value parsing and the layouts of compound
// values.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QBuffer>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QWidget>
#include <vector>

#include "app/IniFile.h"
#include "app/RegMng.h"
#include "app/WindowSettings.h"
#include "imaging/Errors.h"
#include "imaging/PathUtils.h"
#include "imaging/ShowErrorMessage.h"
#include "settings/SettingsTestFiles.h"
#include "support/WindowSettingsIni.h"

namespace skyfold {
namespace {

using testing::PathIn;
using testing::ReadText;
using testing::WriteText;

class RegManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    reg_.RegType = rtIni;
    reg_.IniFileName = PathIn(dir_, "skyfold.ini");
    AddWindowSettingsItems(reg_);
  }
  std::string IniPath() const { return reg_.IniFileName; }
  std::string Stored(const std::string& key) const {
    return TIniFile(IniPath()).ReadString("data", key, "<absent>");
  }
  TRegItem& AddItem(const std::string& name, const std::string& defaultValue) {
    return reg_.RegItems().Add(name, "data", name, defaultValue);
  }

  QTemporaryDir dir_;
  TRegManager reg_;
  std::vector<std::string> messages_;
  ScopedErrorMessageSink sink_{[this](const std::string& text) { messages_.push_back(text); }};
};

// ---- the window's nine settings ----

TEST_F(RegManagerTest, WithoutAFileEveryItemReadsItsDefaultAndNothingIsCreated) {
  EXPECT_EQ(reg_.ItemFiler("CubeImageType").ReadInteger(), 1);
  EXPECT_EQ(reg_.ItemFiler("CubeImageSize").ReadInteger(), 4);
  EXPECT_TRUE(reg_.ItemFiler("CheckOverWrite").ReadBool());
  EXPECT_FALSE(reg_.ItemFiler("TopRotate").ReadBool());
  EXPECT_EQ(reg_.ItemFiler("CubeSuffix").ReadInteger(), 0);
  EXPECT_FALSE(reg_.ItemFiler("ChangeLeftRight").ReadBool());
  EXPECT_TRUE(reg_.ItemFiler("SameFolder").ReadBool());
  EXPECT_EQ(reg_.ItemFiler("PanoImageSize").ReadInteger(), 5);
  EXPECT_EQ(reg_.ItemFiler("PanoImageType").ReadInteger(), 2);
  EXPECT_TRUE(messages_.empty());
  EXPECT_FALSE(FileExists(IniPath()));
}

TEST_F(RegManagerTest, TheItemsAreDeclaredInCollectionOrderInSectionData) {
  const std::vector<std::string> names = {"CubeImageType", "CheckOverWrite", "TopRotate",
                                          "CubeImageSize", "CubeSuffix",     "ChangeLeftRight",
                                          "SameFolder",    "PanoImageType",  "PanoImageSize"};
  ASSERT_EQ(reg_.RegItems().Count(), 9);
  for (int i = 0; i < 9; ++i) {
    const TRegItem& item = reg_.RegItems().GetItem(i);
    EXPECT_EQ(item.Name, names[static_cast<std::size_t>(i)]);
    EXPECT_EQ(item.Ident, item.Name);
    EXPECT_EQ(item.Section, "data");
  }
  EXPECT_EQ(SettingsFileNameFor("/opt/skyfold/bin/skyfold"), "/opt/skyfold/bin/skyfold.ini");
}

// Saves the defaults in the window's save order.
void SaveDefaults(TRegManager& reg) {
  reg.ItemFiler("CubeImageType").WriteInteger(1);
  reg.ItemFiler("CubeImageSize").WriteInteger(4);
  reg.ItemFiler("CheckOverWrite").WriteBool(true);
  reg.ItemFiler("TopRotate").WriteBool(false);
  reg.ItemFiler("CubeSuffix").WriteInteger(0);
  reg.ItemFiler("ChangeLeftRight").WriteBool(false);
  reg.ItemFiler("SameFolder").WriteBool(true);
  reg.ItemFiler("PanoImageSize").WriteInteger(5);
  reg.ItemFiler("PanoImageType").WriteInteger(2);
}

TEST_F(RegManagerTest, SavingIntoANewFileWritesTheKeysInSaveOrder) {
  SaveDefaults(reg_);
  EXPECT_EQ(ReadText(IniPath()), test::kDefaultWindowSettingsIni);
}

TEST_F(RegManagerTest, ExistingKeysKeepTheirPlacesAndCommentsSurvive) {
  WriteText(IniPath(),
            "; skyfold settings\n"
            "[data]\n"
            "PanoImageType=0\n"
            "; the face edge\n"
            "cubeimagesize=6\n"
            "[window]\n"
            "Left=10\n");
  EXPECT_EQ(reg_.ItemFiler("CubeImageSize").ReadInteger(), 6);
  EXPECT_EQ(reg_.ItemFiler("PanoImageType").ReadInteger(), 0);
  SaveDefaults(reg_);
  EXPECT_EQ(ReadText(IniPath()),
            "; skyfold settings\n"
            "[data]\n"
            "PanoImageType=2\n"
            "; the face edge\n"
            "cubeimagesize=4\n"
            "CubeImageType=1\n"
            "CheckOverWrite=1\n"
            "TopRotate=0\n"
            "CubeSuffix=0\n"
            "ChangeLeftRight=0\n"
            "SameFolder=1\n"
            "PanoImageSize=5\n"
            "[window]\n"
            "Left=10\n");
}

// ---- lookup and store errors ----

TEST_F(RegManagerTest, LookupIgnoresCaseAndAnUnknownNameIsReportedAndInert) {
  WriteText(IniPath(), "[data]\nCubeImageType=2\n");
  EXPECT_EQ(reg_.ItemFiler("cubeimagetype").ReadInteger(), 2);
  EXPECT_EQ(reg_.ItemFiler("CUBEIMAGETYPE").CurrentItem, &reg_.RegItems().GetItem(0));
  EXPECT_TRUE(messages_.empty());

  TRegFiler& filer = reg_.ItemFiler("NoSuchItem");
  EXPECT_EQ(filer.CurrentItem, nullptr);
  EXPECT_EQ(messages_, std::vector<std::string>{"[' NoSuchItem '] is invalid."});
  EXPECT_EQ(filer.ReadInteger(), 0);
  EXPECT_FALSE(filer.ReadBool());
  EXPECT_EQ(filer.ReadString(), "");
  filer.WriteInteger(5);
  filer.WriteString("x");
  EXPECT_EQ(ReadText(IniPath()), "[data]\nCubeImageType=2\n");
  EXPECT_EQ(messages_.size(), 1u);
}

TEST_F(RegManagerTest, AStoreWithoutANameIsReportedOnEveryAccessAndReadsDefaults) {
  reg_.IniFileName.clear();
  EXPECT_EQ(reg_.ItemFiler("CubeImageSize").ReadInteger(), 4);
  reg_.ItemFiler("CubeImageSize").WriteInteger(2);
  EXPECT_EQ(messages_, (std::vector<std::string>{"can not create Inifile object.",
                                                 "can not create Inifile object."}));
  messages_.clear();
  TRegManager fresh;  // a new manager keeps the per-user store until told otherwise
  EXPECT_EQ(fresh.RegType, rtReg);
  AddWindowSettingsItems(fresh);
  EXPECT_TRUE(fresh.ItemFiler("SameFolder").ReadBool());
  EXPECT_EQ(messages_, std::vector<std::string>{"can not create Registry object."});
}

TEST_F(RegManagerTest, AFailedWriteThrowsAndKeepsWhatWasWrittenBefore) {
  reg_.ItemFiler("CubeImageType").WriteInteger(0);
  ASSERT_EQ(::chmod(IniPath().c_str(), 0444), 0);
  try {
    reg_.ItemFiler("CubeImageSize").WriteInteger(2);
    FAIL() << "a read-only settings file was written";
  } catch (const FileError& error) {
    EXPECT_EQ(std::string(error.what()), IniPath() + " に書き込めません");
  }
  ::chmod(IniPath().c_str(), 0644);
  EXPECT_EQ(ReadText(IniPath()), "[data]\nCubeImageType=0\n");
  EXPECT_TRUE(messages_.empty());
}

// ---- parsing of Booleans and integers ----

TEST_F(RegManagerTest, BooleanDefaultsAcceptOneTrueAndYesInAnyCase) {
  const std::vector<std::pair<std::string, bool>> cases = {
      {"1", true},   {"true", true}, {"TRUE", true}, {"yes", true}, {"Yes", true},
      {"on", false}, {"", false},    {"no", false},  {"2", false},  {"False", false},
  };
  for (const auto& [text, expected] : cases) {
    AddItem("B", text);
    EXPECT_EQ(reg_.ItemFiler("B").ReadBool(), expected) << "default '" << text << "'";
    reg_.RegItems().Clear();
  }
}

TEST_F(RegManagerTest, StoredBooleansCountOnlyAsDigits) {
  AddItem("B", "yes");
  const std::vector<std::pair<std::string, bool>> cases = {
      {"2", true}, {"-1", true}, {"0", false}, {"true", false}, {"yes", false}, {"", false},
  };
  for (const auto& [stored, expected] : cases) {
    WriteText(IniPath(), "[data]\nB=" + stored + "\n");
    EXPECT_EQ(reg_.ItemFiler("B").ReadBool(), expected) << "stored '" << stored << "'";
  }
  reg_.ItemFiler("B").WriteBool(true);
  EXPECT_EQ(Stored("B"), "1");
  reg_.ItemFiler("B").WriteBool(false);
  EXPECT_EQ(Stored("B"), "0");
}

TEST_F(RegManagerTest, IntegersThatDoNotParseGiveZeroNotTheDefault) {
  AddItem("I", "7");
  const std::vector<std::pair<std::string, int>> cases = {
      {"abc", 0},
      {"12", 12},
      {"-3", -3},
      {"+4", 4},
      {"1.5", 0},
      {"", 0},
      {"2147483647", 2147483647},
      {"2147483648", 0},
      {"0x10", 0},
      {"+-1", 0},
  };
  for (const auto& [stored, expected] : cases) {
    WriteText(IniPath(), "[data]\nI=" + stored + "\n");
    EXPECT_EQ(reg_.ItemFiler("I").ReadInteger(), expected) << "stored '" << stored << "'";
  }
  std::filesystem::remove(IniPath());
  EXPECT_EQ(reg_.ItemFiler("I").ReadInteger(), 7);
  AddItem("Bad", "many");
  EXPECT_EQ(reg_.ItemFiler("Bad").ReadInteger(), 0);
  reg_.ItemFiler("I").WriteInteger(-2147483647 - 1);
  EXPECT_EQ(Stored("I"), "-2147483648");
  EXPECT_EQ(reg_.ItemFiler("I").ReadInteger(), -2147483647 - 1);
}

TEST_F(RegManagerTest, StringsRoundTripAndAbsentOnesGiveTheDefault) {
  AddItem("S", "fallback");
  EXPECT_EQ(reg_.ItemFiler("S").ReadString(), "fallback");
  reg_.ItemFiler("S").WriteString("パノラマ 1");
  EXPECT_EQ(reg_.ItemFiler("S").ReadString(), "パノラマ 1");
  // Empty section or ident: reads give the default, writes do nothing.
  TRegFiler& filer = reg_.Filer();
  EXPECT_EQ(filer.ReadValue("", "S", "d"), "d");
  filer.WriteValue("data", "", "x");
  EXPECT_EQ(ReadText(IniPath()), "[data]\nS=パノラマ 1\n");
}

// ---- compound values ----

TEST_F(RegManagerTest, StringListsRemoveTheKeysOfSurplusLines) {
  AddItem("List", "");
  const std::vector<std::string> five = {"a", "b", "c", "d", "e"};
  reg_.ItemFiler("List").WriteStrings(&five);
  EXPECT_EQ(Stored("List_ItemCount"), "5");
  EXPECT_EQ(Stored("List_Item4"), "e");

  const std::vector<std::string> three = {"x", "", "z"};
  reg_.ItemFiler("List").WriteStrings(&three);
  EXPECT_EQ(Stored("List_ItemCount"), "3");
  EXPECT_EQ(Stored("List_Item3"), "<absent>");
  EXPECT_EQ(Stored("List_Item4"), "<absent>");
  std::vector<std::string> back = {"stale"};
  reg_.ItemFiler("List").ReadStrings(&back);
  EXPECT_EQ(back, three);

  reg_.ItemFiler("List").WriteStrings(&five);
  const std::vector<std::string> none;
  reg_.ItemFiler("List").WriteStrings(&none);
  EXPECT_EQ(ReadText(IniPath()), "[data]\n");
  reg_.ItemFiler("List").ReadStrings(&back);
  EXPECT_TRUE(back.empty());
}

TEST_F(RegManagerTest, AnEmptyListOverAnEmptyStoreWritesNothing) {
  AddItem("List", "");
  const std::vector<std::string> none;
  reg_.ItemFiler("List").WriteStrings(&none);
  reg_.ItemFiler("List").WriteStrings(nullptr);
  reg_.ItemFiler("List").ReadStrings(nullptr);
  EXPECT_FALSE(FileExists(IniPath()));
}

QByteArray Bytes(int count, int first = 0) {
  QByteArray bytes;
  for (int i = 0; i < count; ++i) bytes.append(static_cast<char>((first + i * 7) & 0xFF));
  return bytes;
}

TEST_F(RegManagerTest, StreamsAreHexLinesOf32BytesAndShrinkCleanly) {
  AddItem("Blob", "");
  QByteArray data = Bytes(33, 0xF0);
  QBuffer source(&data);
  source.open(QIODevice::ReadOnly);
  reg_.ItemFiler("Blob").WriteStream(&source);
  EXPECT_EQ(Stored("Blob_c"), "2");
  const std::string line0 = Stored("Blob_d0");
  EXPECT_EQ(line0.size(), 64u);
  EXPECT_EQ(line0.substr(0, 6), "F0F7FE");
  EXPECT_EQ(Stored("Blob_d1"), data.right(1).toHex().toUpper().toStdString());

  // Reading appends at the device's position.
  QByteArray target("head");
  QBuffer sink(&target);
  sink.open(QIODevice::ReadWrite);
  sink.seek(4);
  reg_.ItemFiler("Blob").ReadStream(&sink);
  EXPECT_EQ(target, QByteArray("head") + data);

  // Only the bytes from the current position on are written.
  QByteArray small = Bytes(10);
  QBuffer part(&small);
  part.open(QIODevice::ReadOnly);
  part.seek(4);
  reg_.ItemFiler("Blob").WriteStream(&part);
  EXPECT_EQ(Stored("Blob_c"), "1");
  EXPECT_EQ(Stored("Blob_d1"), "<absent>");
  EXPECT_EQ(Stored("Blob_d0"), small.mid(4).toHex().toUpper().toStdString());

  QByteArray empty;
  QBuffer nothing(&empty);
  nothing.open(QIODevice::ReadOnly);
  reg_.ItemFiler("Blob").WriteStream(&nothing);
  EXPECT_EQ(ReadText(IniPath()), "[data]\n");
}

TEST_F(RegManagerTest, DamagedHexDigitsReadAsZeroBytes) {
  AddItem("Blob", "");
  WriteText(IniPath(), "[data]\nBlob_c=2\nBlob_d0=41zz4\nBlob_d1=ff\n");
  QByteArray target;
  QBuffer sink(&target);
  sink.open(QIODevice::WriteOnly);
  reg_.ItemFiler("Blob").ReadStream(&sink);
  EXPECT_EQ(target, QByteArray("\x41\x00\xff", 3));
}

TEST_F(RegManagerTest, FontsUseFiveValuesAndKeepWhatDoesNotParse) {
  AddItem("Font", "");
  TRegFont font;
  font.Font.setFamily("DejaVu Sans");
  font.Font.setPointSize(11);
  font.Font.setBold(true);
  font.Font.setStrikeOut(true);
  font.Color = QColor(0x11, 0x22, 0x33, 0x80);
  font.Charset = 128;
  reg_.ItemFiler("Font").WriteFont(&font);
  EXPECT_EQ(ReadText(IniPath()),
            "[data]\nFont_FontName=DejaVu Sans\nFont_FontSize=11\nFont_FontColor=$80112233\n"
            "Font_FontStyle=9\nFont_FontCharset=128\n");

  TRegFont back;
  back.Font.setPointSize(20);
  reg_.ItemFiler("Font").ReadFont(&back);
  EXPECT_EQ(back.Font.family(), "DejaVu Sans");
  EXPECT_EQ(back.Font.pointSize(), 11);
  EXPECT_TRUE(back.Font.bold());
  EXPECT_FALSE(back.Font.italic());
  EXPECT_TRUE(back.Font.strikeOut());
  EXPECT_EQ(back.Color, font.Color);
  EXPECT_EQ(back.Charset, 128);

  WriteText(IniPath(),
            "[data]\nFont_FontSize=big\nFont_FontColor=DarkBlue\nFont_FontStyle=x\n"
            "Font_FontCharset=y\n");
  reg_.ItemFiler("Font").ReadFont(&back);
  EXPECT_EQ(back.Font.family(), "DejaVu Sans");  // absent: the font's own value
  EXPECT_EQ(back.Font.pointSize(), 11);          // unparsable: kept
  EXPECT_EQ(back.Color, QColor(Qt::darkBlue));
  EXPECT_FALSE(back.Font.bold());  // unparsable style and charset: 0
  EXPECT_EQ(back.Charset, 0);

  back.Color = QColor(Qt::red);
  std::filesystem::remove(IniPath());
  reg_.ItemFiler("Font").WriteFont(&back);
  EXPECT_EQ(Stored("Font_FontColor"), "red");
  reg_.ItemFiler("Font").ReadFont(nullptr);
  reg_.ItemFiler("Font").WriteFont(nullptr);
}

TEST_F(RegManagerTest, AControlGetsBackTheStoredPropertiesOfAnother) {
  AddItem("Edit", "");
  QWidget window;
  auto* edit = new QLineEdit(&window);  // owned by window
  edit->setObjectName("Edit_DataFolder");
  edit->setText("/data/パノラマ/");
  edit->setMaxLength(200);
  edit->setReadOnly(true);
  edit->setProperty("skyfoldNote", QStringLiteral("kept"));
  reg_.ItemFiler("Edit").WriteComponent(edit);
  EXPECT_NE(Stored("Edit_c"), "<absent>");

  QWidget otherWindow;
  auto* copy = new QLineEdit(&otherWindow);
  reg_.ItemFiler("Edit").ReadControl(copy);
  EXPECT_EQ(copy->objectName(), "Edit_DataFolder");
  EXPECT_EQ(copy->text(), "/data/パノラマ/");
  EXPECT_EQ(copy->maxLength(), 200);
  EXPECT_TRUE(copy->isReadOnly());
  EXPECT_EQ(copy->property("skyfoldNote").toString(), "kept");
}

TEST_F(RegManagerTest, WindowsAreNotStoredAndDamagedRecordsChangeNothing) {
  AddItem("Edit", "");
  QWidget window;
  reg_.ItemFiler("Edit").WriteComponent(&window);
  reg_.ItemFiler("Edit").WriteComponent(nullptr);
  EXPECT_FALSE(FileExists(IniPath()));

  QWidget parent;
  auto* edit = new QLineEdit(&parent);
  edit->setText("unchanged");
  reg_.ItemFiler("Edit").ReadControl(edit);  // nothing stored: nothing loaded
  EXPECT_EQ(edit->text(), "unchanged");
  WriteText(IniPath(), "[data]\nEdit_c=1\nEdit_d0=00112233445566778899\n");
  EXPECT_THROW(reg_.ItemFiler("Edit").ReadControl(edit), CodecError);
  EXPECT_EQ(edit->text(), "unchanged");
}

// ---- the per-user store ----

class UserStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(home_.isValid());
    savedConfigHome_ = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", home_.path().toUtf8());
    reg_.RegDir = "Software/SkyfoldTests";
    reg_.RegItems().Add("Size", "data", "Size", "4");
    reg_.RegItems().Add("Blob", "nested\\deeper", "Blob", "");
  }
  void TearDown() override {
    if (savedConfigHome_.isNull()) {
      qunsetenv("XDG_CONFIG_HOME");
    } else {
      qputenv("XDG_CONFIG_HOME", savedConfigHome_);
    }
  }

  QTemporaryDir home_;
  QByteArray savedConfigHome_;
  TRegManager reg_;
  std::vector<std::string> messages_;
  ScopedErrorMessageSink sink_{[this](const std::string& text) { messages_.push_back(text); }};
};

TEST_F(UserStoreTest, ValuesAndBinaryStreamsLiveInTheUsersConfigurationFolder) {
  EXPECT_EQ(reg_.ItemFiler("Size").ReadInteger(), 4);
  reg_.ItemFiler("Size").WriteInteger(6);
  EXPECT_EQ(reg_.ItemFiler("Size").ReadInteger(), 6);
  EXPECT_TRUE(FileExists(PathIn(home_, "skyfold/Software/SkyfoldTests.conf")));

  QByteArray data = Bytes(100);
  QBuffer source(&data);
  source.open(QIODevice::ReadOnly);
  reg_.ItemFiler("Blob").WriteStream(&source);
  QByteArray back;
  QBuffer sink(&back);
  sink.open(QIODevice::WriteOnly);
  reg_.ItemFiler("Blob").ReadStream(&sink);
  EXPECT_EQ(back, data);

  reg_.Filer().DeleteKey("data", "Size");
  EXPECT_EQ(reg_.ItemFiler("Size").ReadInteger(), 4);
  EXPECT_TRUE(messages_.empty());
}

TEST_F(UserStoreTest, AStoreNameCannotLeaveTheConfigurationFolder) {
  reg_.RegDir = "../../escaped";
  reg_.ItemFiler("Size").WriteInteger(1);
  EXPECT_TRUE(FileExists(PathIn(home_, "skyfold/escaped.conf")));
  EXPECT_EQ(reg_.ItemFiler("Size").ReadInteger(), 1);
}

}  // namespace
}  // namespace skyfold
