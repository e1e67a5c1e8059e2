// Whole-file I/O, atomic replacement, line files, file names and the history files.
#include <gtest/gtest.h>

#include <fstream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include "korinbo/codepage.h"
#include "korinbo/errors.h"
#include "korinbo/file_io.h"
#include "korinbo/history.h"

namespace korinbo {
namespace {

class Files : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/korinbo-files-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  void Write(const std::filesystem::path& path, std::string_view bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }
  std::vector<std::string> Names() {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }
  std::filesystem::path dir_;
};

TEST(SplitLines, SplitsAtEveryKindOfLineEnd) {
  struct Case {
    std::string text;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"", {}},
      {"a", {"a"}},
      {"a\r\nb", {"a", "b"}},
      {"a\r\n", {"a"}},
      {"a\rb\nc", {"a", "b", "c"}},
      {"a\n\rb", {"a", "", "b"}},  // LF CR is two breaks
      {"\r\n\r\n", {"", ""}},
      {std::string("a\r\nb\0c\r\nd", 9), {"a", "b"}},
  };
  for (const auto& c : cases) EXPECT_EQ(SplitLines(c.text), c.lines) << c.text;
  EXPECT_EQ(JoinLines({"a", "", "b"}), "a\r\n\r\nb\r\n");
  EXPECT_EQ(JoinLines({}), "");
}

TEST_F(Files, ReadingAMissingFileGivesNothingAndAFolderIsAnError) {
  EXPECT_FALSE(ReadFileBytes(dir_ / "missing"));
  EXPECT_FALSE(ReadFileBytes(dir_ / "missing" / "below"));
  std::filesystem::create_directory(dir_ / "folder");
  EXPECT_THROW(ReadFileBytes(dir_ / "folder"), FileError);
  Write(dir_ / "f", std::string("a\0b", 3));
  EXPECT_EQ(ReadFileBytes(dir_ / "f"), std::optional<std::string>(std::string("a\0b", 3)));
}

TEST_F(Files, ReplacingWritesTheNewBytesAndLeavesNoTemporaryFile) {
  Write(dir_ / "log.txt", "old");
  std::filesystem::permissions(dir_ / "log.txt", std::filesystem::perms(0640));
  ReplaceFileAtomically(dir_ / "log.txt", "new");
  EXPECT_EQ(ReadFileBytes(dir_ / "log.txt").value(), "new");
  EXPECT_EQ(std::filesystem::status(dir_ / "log.txt").permissions(), std::filesystem::perms(0640));
  EXPECT_EQ(Names(), std::vector<std::string>{"log.txt"});
}

TEST_F(Files, ReplacingThroughASymbolicLinkKeepsTheLink) {
  Write(dir_ / "real.txt", "old");
  std::filesystem::create_symlink("real.txt", dir_ / "link.txt");
  ReplaceFileAtomically(dir_ / "link.txt", "new");
  EXPECT_TRUE(std::filesystem::is_symlink(dir_ / "link.txt"));
  EXPECT_EQ(ReadFileBytes(dir_ / "real.txt").value(), "new");
}

TEST_F(Files, AFailedReplaceReportsTheFileAndKeepsWhatWasThere) {
  // A folder in the file's place, and a file in its folder's place: root can write neither.
  std::filesystem::create_directory(dir_ / "getdata.txt");
  try {
    ReplaceFileAtomically(dir_ / "getdata.txt", "new");
    ADD_FAILURE() << "no error";
  } catch (const FileError& error) {
    EXPECT_EQ(std::string(error.what()), Sjis("ファイル ") + (dir_ / "getdata.txt").string() + Sjis(" を作成できません"));
  }
  Write(dir_ / "plain", "x");
  EXPECT_THROW(ReplaceFileAtomically(dir_ / "plain" / "logdata.txt", "new"), FileError);
  EXPECT_TRUE(std::filesystem::is_directory(dir_ / "getdata.txt"));
  EXPECT_EQ(Names(), (std::vector<std::string>{"getdata.txt", "plain"}));
}

TEST_F(Files, AFullDiskLeavesTheOldFileWhole) {
  Write(dir_ / "logdata.txt", "old contents");
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // A file-size limit stands in for a full disk.
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{4096, 4096};
    setrlimit(RLIMIT_FSIZE, &limit);
    try {
      ReplaceFileAtomically(dir_ / "logdata.txt", std::string(100000, 'x'));
    } catch (const FileError&) {
      _exit(3);
    }
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 3);
  EXPECT_EQ(ReadFileBytes(dir_ / "logdata.txt").value(), "old contents");
  EXPECT_EQ(Names(), std::vector<std::string>{"logdata.txt"});
}

TEST_F(Files, ShiftJisNamesFindUtf8AndRawSpellings) {
  const std::string name = Sjis("国内_毎日.txt");
  EXPECT_EQ(PathInDirectory(dir_, name), dir_ / "国内_毎日.txt");
  Write(dir_ / name, "raw");  // copied from Windows: the name's bytes are Shift_JIS
  EXPECT_EQ(PathInDirectory(dir_, name), dir_ / name);
  Write(dir_ / "国内_毎日.txt", "utf8");
  EXPECT_EQ(PathInDirectory(dir_, name), dir_ / "国内_毎日.txt");
  EXPECT_EQ(SjisFromNativeName("国内_毎日.txt"), name);
  EXPECT_EQ(SjisFromNativeName(name), name);
  EXPECT_EQ(SjisFromNativeName("plain.txt"), "plain.txt");
}

TEST_F(Files, HistoryFilesReadAndWriteAsLines) {
  EXPECT_TRUE(LoadHistory(dir_, kSeenLogName).empty());
  Write(dir_ / "logdata.txt", std::string("a\rb\nc\r\n\0junk", 12));
  EXPECT_EQ(LoadHistory(dir_, kSeenLogName), (std::vector<std::string>{"a", "b", "c"}));
  SaveHistory(dir_, kSeenLogName, {"x", "y"});
  EXPECT_EQ(ReadFileBytes(dir_ / "logdata.txt").value(), "x\r\ny\r\n");
  SaveHistory(dir_, kSeenLogName, {});
  EXPECT_EQ(ReadFileBytes(dir_ / "logdata.txt").value(), "");
}

TEST(HistoryContains, IsASubstringTestOfTheJoinedText) {
  const std::vector<std::string> lines{"http://a.example/12", "b"};
  EXPECT_TRUE(HistoryContains(lines, "http://a.example/1"));
  EXPECT_FALSE(HistoryContains(lines, "http://a.example/123"));
  EXPECT_TRUE(HistoryContains(lines, "12\r\nb"));
  EXPECT_TRUE(HistoryContains(lines, "b\r\n"));
  EXPECT_FALSE(HistoryContains({}, "b"));
}

TEST_F(Files, RecordingAVisitTwiceKeepsOneLine) {
  RecordVisit(dir_, "http://news.example/1.html");
  RecordVisit(dir_, "http://news.example/1.html");
  RecordVisit(dir_, "http://news.example/1");  // a part of a stored link: present
  EXPECT_EQ(ReadFileBytes(dir_ / "visitdata.txt").value(), "http://news.example/1.html\r\n");
  std::filesystem::remove(dir_ / "visitdata.txt");
  std::filesystem::create_directory(dir_ / "visitdata.txt");
  EXPECT_THROW(RecordVisit(dir_, "http://x/"), FileError);
}

}  // namespace
}  // namespace korinbo
