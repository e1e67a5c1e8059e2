#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "korinbo/codepage.h"
#include "korinbo/errors.h"
#include "korinbo/file_io.h"
#include "korinbo/settings.h"
#include "korinbo/test/temp_dir.h"

namespace korinbo {
namespace {

using namespace std::string_literals;

class SettingsFileTest : public ::testing::Test {
 protected:
  static void Write(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }
  static std::string Read(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
  }

  // Every loaded value as text, in the reading order.
  static std::vector<std::string> Fields(const LoadedSettings& loaded) {
    const Settings& s = loaded.settings;
    const WindowGeometry& g = loaded.geometry;
    std::vector<std::string> fields{s.ExecName, s.LastNews,  s.FontName, s.ProxyName,
                                    s.UseProxy.text(), s.AlwaysTop.text(), s.TaskWay.text()};
    for (const int value : {int{s.Shortcut}, s.FontSize, g.Top, g.Left, g.Width, g.Height, g.LvWidth,
                            g.Lv2Col0, g.Lv2Col1, g.Lv2Col2}) {
      fields.push_back(std::to_string(value));
    }
    return fields;
  }

  test::TempDir temp_;
  const std::filesystem::path dir_ = temp_.path();
  const std::filesystem::path file_ = dir_ / "korinbo.ini";
  const WorkArea work_area_{30, 40, 1024, 768};
};

TEST_F(SettingsFileTest, MissingFileGivesEveryDefaultAndSavesTheSavingListInOrder) {
  const LoadedSettings loaded = LoadSettings(file_, work_area_);
  const std::string font = Sjis("ＭＳ Ｐゴシック");
  EXPECT_EQ(Fields(loaded),
            (std::vector<std::string>{"", "", font, "False", "DIRECT", "False", "Min", "0", "10", "40", "30",
                                      "638", "350", "177", "200", "200", "200"}));
  SaveSettings(file_, loaded.settings, loaded.geometry);
  EXPECT_EQ(Read(file_),
            "[Form]\r\nTop=40\r\nLeft=30\r\nWidth=638\r\nHeight=350\r\nLvWidth=177\r\nLv2Col0=200\r\n"
            "Lv2Col1=200\r\nLv2Col2=200\r\nFontSize=10\r\nLastNews=\r\nFontName=" +
                font +
                "\r\nProxyName=False\r\nUseProxy=DIRECT\r\nTaskWay=Min\r\nShortcut=\r\n"
                "AutoCheck=False\r\nAutoCheckMinutes=30\r\n[File]\r\nExecName=\r\n");
}

TEST_F(SettingsFileTest, SavedValuesLoadBack) {
  Settings s;
  s.ExecName = "/usr/bin/browser";
  s.LastNews = Sjis("国内_朝日野新聞.txt");
  s.FontName = Sjis("ＩＰＡゴシック");
  s.ProxyName = "proxy.example:8080";
  s.UseProxy = ProxyMode::kProxy;
  s.TaskWay = TaskWayMode::kStop;
  s.Shortcut = 41083;
  s.FontSize = -3;
  SaveSettings(file_, s, WindowGeometry{-20, 5000, 1, 2, 3, 4, 5, 6});
  // The geometry comes back as stored: placement is the caller's step.
  EXPECT_EQ(Fields(LoadSettings(file_, work_area_)),
            (std::vector<std::string>{s.ExecName, s.LastNews, s.FontName, s.ProxyName, "PROXY", "False",
                                      "Stop", "41083", "-3", "-20", "5000", "1", "2", "3", "4", "5", "6"}));
  EXPECT_NE(Read(file_).find("Shortcut=Shift+Alt+F12\r\n"), std::string::npos);
}

// The per-user settings file's folder does not exist before the first shutdown.
TEST_F(SettingsFileTest, SavingMakesTheMissingFolders) {
  const std::filesystem::path nested = dir_ / "config" / "korinbo" / "korinbo.ini";
  const LoadedSettings loaded = LoadSettings(nested, work_area_);
  SaveSettings(nested, loaded.settings, loaded.geometry);
  EXPECT_NE(Read(nested).find("[Form]\r\n"), std::string::npos);
}

TEST_F(SettingsFileTest, AlwaysTopIsReadButNeverWritten) {
  Write(file_, "[Form]\r\nAlwaysTop=True\r\n");
  LoadedSettings loaded = LoadSettings(file_, work_area_);
  EXPECT_EQ(loaded.settings.AlwaysTop.text(), "True");
  loaded.settings.AlwaysTop = AlwaysTopMode::kFalse;  // the user switched topmost off
  SaveSettings(file_, loaded.settings, loaded.geometry);
  EXPECT_TRUE(Read(file_).starts_with("[Form]\r\nAlwaysTop=True\r\nTop=40\r\n"));
  EXPECT_EQ(LoadSettings(file_, work_area_).settings.AlwaysTop.text(), "True");
}

// A mode's text is compared exactly; any other text means none of the modes and is written back
// as it was read.
TEST_F(SettingsFileTest, ModeTextsOtherThanTheKeywordsAreKeptAsRead) {
  Write(file_, "[Form]\r\nUseProxy=proxy\r\nAlwaysTop=yes\r\nTaskWay=stop\r\n");
  const LoadedSettings loaded = LoadSettings(file_, work_area_);
  EXPECT_EQ(loaded.settings.UseProxy, ProxyMode::kOther);
  EXPECT_EQ(loaded.settings.AlwaysTop, AlwaysTopMode::kOther);
  EXPECT_EQ(loaded.settings.TaskWay, TaskWayMode::kOther);
  SaveSettings(file_, loaded.settings, loaded.geometry);
  const std::string saved = Read(file_);
  for (const char* line : {"UseProxy=proxy\r\n", "AlwaysTop=yes\r\n", "TaskWay=stop\r\n"}) {
    EXPECT_NE(saved.find(line), std::string::npos) << line;
  }
}

TEST_F(SettingsFileTest, HandWrittenWindowsFileLoadsAndKeepsItsOtherLines) {
  const std::string font = Sjis("ＭＳ Ｐゴシック");
  const std::string news = Sjis("国内_朝日野新聞.txt");
  const std::string form_head = "[Form]\r\ntop = 120\r\n";
  const std::string form_tail = "Width=700\r\nHeight=400\r\nfontname=" + font +
                                "\r\nFontSize=12\r\nUseProxy=PROXY\r\nProxyName=proxy.example:8080\r\n"
                                "AlwaysTop=True\r\nTaskWay=Stop\r\n";
  const std::string other = "\r\n[Extra]\r\n; written by hand\r\nNote = kept \r\n\r\n[file]\r\n";
  Write(file_, form_head + "LEFT=$40\r\n" + form_tail + "Shortcut=ctrl+alt+k\r\nLastNews=" + news + "\r\n" +
                   other + "execname=\"C:\\Program Files\\browser.exe\"\r\n");

  const LoadedSettings loaded = LoadSettings(file_, work_area_);
  EXPECT_EQ(Fields(loaded),
            (std::vector<std::string>{"C:\\Program Files\\browser.exe", news, font, "proxy.example:8080",
                                      "PROXY", "True", "Stop", "49227", "12", "120", "64", "700", "400",
                                      "177", "200", "200", "200"}));

  SaveSettings(file_, loaded.settings, loaded.geometry);
  // Lines whose value stays are kept as they were; missing keys follow the section's last key.
  EXPECT_EQ(Read(file_), form_head + "LEFT=64\r\n" + form_tail + "Shortcut=Ctrl+Alt+K\r\nLastNews=" + news +
                             "\r\nLvWidth=177\r\nLv2Col0=200\r\nLv2Col1=200\r\nLv2Col2=200\r\n"
                             "AutoCheck=False\r\nAutoCheckMinutes=30\r\n" + other +
                             "execname=C:\\Program Files\\browser.exe\r\n");
}

TEST_F(SettingsFileTest, AutoCheckKeysLoadWithDefaultsAndTheirRange) {
  const struct {
    std::string form;
    std::string auto_check;
    int minutes;
  } rows[] = {
      {"", "False", 30},
      {"AutoCheck=True\r\nAutoCheckMinutes=45\r\n", "True", 45},
      {"autocheck=true\r\nAutoCheckMinutes=$10\r\n", "true", 16},
      {"AutoCheckMinutes=4\r\n", "False", 5},
      {"AutoCheckMinutes=-1\r\n", "False", 5},
      {"AutoCheckMinutes=1441\r\n", "False", 1440},
      {"AutoCheckMinutes=99999999999\r\n", "False", 30},
      {"AutoCheckMinutes=ten\r\n", "False", 30},
  };
  for (const auto& row : rows) {
    Write(file_, "[Form]\r\n" + row.form);
    const Settings s = LoadSettings(file_, work_area_).settings;
    EXPECT_EQ(s.AutoCheck, row.auto_check) << row.form;
    EXPECT_EQ(s.AutoCheckMinutes, row.minutes) << row.form;
  }
}

TEST_F(SettingsFileTest, AutoCheckKeysAreWrittenAfterTheOthersAndLoadBack) {
  Write(file_, "[Form]\r\nAutoCheckMinutes=7\r\nTop=1\r\n");
  Settings s;
  s.AutoCheck = "True";
  s.AutoCheckMinutes = 1440;
  SaveSettings(file_, s, WindowGeometry{});
  const std::string bytes = Read(file_);
  // An existing line is replaced in place; a missing key follows the section's last key.
  EXPECT_TRUE(bytes.starts_with("[Form]\r\nAutoCheckMinutes=1440\r\nTop=0\r\n")) << bytes;
  EXPECT_NE(bytes.find("Shortcut=\r\nAutoCheck=True\r\n[File]"), std::string::npos) << bytes;
  const Settings loaded = LoadSettings(file_, work_area_).settings;
  EXPECT_EQ(loaded.AutoCheck, "True");
  EXPECT_EQ(loaded.AutoCheckMinutes, 1440);
}

TEST_F(SettingsFileTest, BrokenFileGivesDefaultsAndKeepsItsBytes) {
  const std::string garbage = "\0\xFF[Form\r\n"s;
  Write(file_,
        garbage + "[Form]\nTop=abc\nWidth=99999999999\nShortcut=Ctrl+Foo\nHeight= 0x20 \nFontSize=12x\n");
  const LoadedSettings loaded = LoadSettings(file_, work_area_);
  const std::string font = Sjis("ＭＳ Ｐゴシック");
  EXPECT_EQ(Fields(loaded),
            (std::vector<std::string>{"", "", font, "False", "DIRECT", "False", "Min", "0", "10", "40", "30",
                                      "638", "32", "177", "200", "200", "200"}));
  SaveSettings(file_, loaded.settings, loaded.geometry);
  EXPECT_TRUE(Read(file_).starts_with(garbage + "[Form]\nTop=40\r\nWidth=638\r\n"));
}

TEST_F(SettingsFileTest, UnreadableFileLoadsAsDefaults) {
  std::filesystem::create_directory(file_);
  EXPECT_EQ(LoadSettings(file_, work_area_).settings.UseProxy.text(), "DIRECT");
}

TEST_F(SettingsFileTest, UnwritableFileRaisesTheErrorAndStaysAsItWas) {
  const LoadedSettings loaded = LoadSettings(file_, work_area_);
  // The settings file's name is a folder holding a file.
  std::filesystem::create_directory(file_);
  Write(file_ / "inside", "inside");
  try {
    SaveSettings(file_, loaded.settings, loaded.geometry);
    ADD_FAILURE() << "no error";
  } catch (const FileError& error) {
    EXPECT_EQ(error.what(), SjisPathText(file_) + Sjis(" に書き込めません"));
  }
  EXPECT_TRUE(std::filesystem::is_directory(file_));
  EXPECT_EQ(Read(file_ / "inside"), "inside");

  // The folder of the settings file is a regular file.
  const std::filesystem::path blocker = dir_ / "blocker";
  Write(blocker, "[Form]\r\nTop=1\r\n");
  EXPECT_THROW(SaveSettings(blocker / "korinbo.ini", loaded.settings, loaded.geometry), FileError);
  EXPECT_EQ(Read(blocker), "[Form]\r\nTop=1\r\n");
}

TEST(PlaceWindowTest, Table) {
  const struct {
    WorkArea area;
    int left, top, placed_left, placed_top;
  } rows[] = {
      {{0, 0, 1024, 768}, 5000, 0, 0, 0},
      {{0, 0, 1024, 768}, 924, 0, 924, 0},
      {{0, 0, 1024, 768}, 925, 0, 0, 0},
      {{0, 0, 1024, 768}, -1, 0, 0, 0},
      {{0, 0, 1024, 768}, 0, -50, 0, 0},
      {{0, 0, 1024, 768}, 0, 668, 0, 668},
      {{0, 0, 1024, 768}, 0, 669, 0, 0},
      {{100, 50, 1124, 818}, 50, 10, 100, 50},
      {{100, 50, 1124, 818}, 1024, 718, 1024, 718},
      {{100, 50, 1124, 818}, 1025, 719, 100, 50},
      {{500, 0, 550, 40}, 520, 20, 500, 0},
      {{0, 0, 1024, 768}, INT_MAX, INT_MIN, 0, 0},
      {{INT_MIN, INT_MIN, INT_MIN, INT_MIN}, 0, 0, INT_MIN, INT_MIN},
  };
  for (const auto& row : rows) {
    const WindowGeometry before{row.top, row.left, -5, 99999, 1, 2, 3, 4};
    const WindowGeometry placed = PlaceWindow(before, row.area);
    EXPECT_EQ(placed.Left, row.placed_left) << row.left << "," << row.top;
    EXPECT_EQ(placed.Top, row.placed_top) << row.left << "," << row.top;
    EXPECT_EQ(placed.Width, -5);
    EXPECT_EQ(placed.Height, 99999);
  }
}

TEST(SettingsFilePathTest, ExtensionReplacedOrAppended) {
  const std::pair<const char*, const char*> rows[] = {
      {"/opt/korinbo/korinbo", "/opt/korinbo/korinbo.ini"},
      {"/x/reader.exe", "/x/reader.ini"},
      {"/a.b/prog", "/a.b/prog.ini"},
      {"/x/prog.tar.gz", "/x/prog.tar.ini"},
      {"/x/.hidden", "/x/.hidden.ini"},
  };
  for (const auto& [program, settings] : rows) EXPECT_EQ(SettingsFilePathFor(program), settings);
}

TEST(SettingsFilePathTest, BesideTheRunningProgramWhateverTheWorkingDirectory) {
  const std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path("/");
  const std::filesystem::path path = SettingsFilePath();
  std::filesystem::current_path(before);
  EXPECT_TRUE(path.is_absolute());
  EXPECT_EQ(path.filename(), "settings_tests.ini");
  EXPECT_TRUE(std::filesystem::is_regular_file(path.parent_path() / "settings_tests"));
}

}  // namespace
}  // namespace korinbo
