// Whole-file I/O, atomic replacement, line files, file names and the history files.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <functional>
#include <random>

#include "korinbo/codepage.h"
#include "korinbo/errors.h"
#include "korinbo/file_io.h"
#include "korinbo/history.h"
#include "korinbo/large_block.h"
#include "korinbo/test/temp_dir.h"

namespace korinbo {
namespace {

namespace fs = std::filesystem;

// Runs the body in a child process and gives its exit status, or -1 when it did not end on its
// own within the time (so that a hang fails the test instead of stalling it).
int ExitStatusOfChild(const std::function<int()>& body, unsigned seconds = 10) {
  const pid_t child = fork();
  if (child == 0) {
    alarm(seconds);
    _exit(body());
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

class Files : public ::testing::Test {
 protected:
  static void Write(const fs::path& path, std::string_view bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }
  static std::string Read(const fs::path& path) { return ReadFileBytes(path).value_or("<missing>"); }
  std::vector<std::string> Names() const { return NamesIn(dir_); }
  static std::vector<std::string> NamesIn(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }
  static std::string ErrorText(const std::function<void()>& action) {
    try {
      action();
    } catch (const FileError& error) {
      return error.what();
    }
    return "<no error>";
  }
  test::TempDir temp_;
  const fs::path dir_ = temp_.path();
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
      {"a\r", {"a"}},
      {"a\n", {"a"}},
      {"a\rb\nc", {"a", "b", "c"}},
      {"a\n\rb", {"a", "", "b"}},  // LF CR is two breaks
      {"a\r\r\nb", {"a", "", "b"}},
      {"\r\n\r\n", {"", ""}},
      {"\n", {""}},
      {"\r\n\n", {"", ""}},
      {"a\r\nb\r\n\r\n", {"a", "b", ""}},
      {std::string("a\r\nb\0c\r\nd", 9), {"a", "b"}},
      {std::string("\0a", 2), {}},
      {std::string("a\r\0\nb", 5), {"a"}},
      // A Shift_JIS trail byte is no line end, and bytes above 7F stay as they are.
      {"\x95\x5C\r\n\x81\x40", {"\x95\x5C", "\x81\x40"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SplitLines(c.text), c.lines) << c.text;
    // A history list kept as the file's text has the same lines.
    const HistoryLines kept = HistoryLines::FromText(c.text);
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < kept.size(); ++i) lines.emplace_back(kept[i]);
    EXPECT_EQ(lines, c.lines) << c.text;
  }
}

TEST(SplitLines, AgreesWithAByteByByteSplitOnRandomTexts) {
  // Line ends as a byte-by-byte reading finds them: CR LF, a lone CR, a lone LF.
  auto by_bytes = [](std::string_view text) {
    text = text.substr(0, text.find('\0'));
    std::vector<std::string> lines;
    std::string line;
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (text[i] != '\r' && text[i] != '\n') {
        line += text[i];
        continue;
      }
      lines.push_back(std::exchange(line, {}));
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
  };
  std::mt19937 random(7);
  const std::string alphabet("ab\r\n\r\n\0", 7);
  for (int round = 0; round < 5000; ++round) {
    std::string text;
    for (auto i = random() % 24; i > 0; --i) text += alphabet[random() % alphabet.size()];
    ASSERT_EQ(SplitLines(text), by_bytes(text)) << ::testing::PrintToString(text);
  }
}

TEST(JoinLines, PutsCrLfAfterEveryLine) {
  EXPECT_EQ(JoinLines({"a", "", "b"}), "a\r\n\r\nb\r\n");
  EXPECT_EQ(JoinLines({""}), "\r\n");
  EXPECT_EQ(JoinLines({}), "");
  const std::vector<std::string> lines{"http://a.example/1", "", Sjis("見出し")};
  EXPECT_EQ(SplitLines(JoinLines(lines)), lines);
}

TEST_F(Files, ReadingAMissingFileGivesNothing) {
  EXPECT_FALSE(ReadFileBytes(dir_ / "missing"));
  Write(dir_ / "plain", "x");
  EXPECT_FALSE(ReadFileBytes(dir_ / "plain" / "below"));
  fs::create_symlink("nowhere", dir_ / "dangling");
  EXPECT_FALSE(ReadFileBytes(dir_ / "dangling"));
}

TEST_F(Files, ReadingGivesEveryByte) {
  Write(dir_ / "f", std::string("a\0b\r\n\xFF", 6));
  EXPECT_EQ(Read(dir_ / "f"), std::string("a\0b\r\n\xFF", 6));
  Write(dir_ / "empty", "");
  EXPECT_EQ(ReadFileBytes(dir_ / "empty"), std::optional<std::string>(""));
  const std::string big(300000, 'z');
  Write(dir_ / "big", big);
  EXPECT_EQ(Read(dir_ / "big"), big);
}

TEST_F(Files, AFolderOrADeviceIsAnErrorThatNamesIt) {
  fs::create_directory(dir_ / "folder");
  EXPECT_EQ(ErrorText([&] { ReadFileBytes(dir_ / "folder"); }),
            Sjis("ファイル ") + (dir_ / "folder").string() + Sjis(" を開けません"));
  // /dev/zero never ends: reading it must fail at once, not fill the memory.
  EXPECT_EQ(ExitStatusOfChild([] {
              try {
                ReadFileBytes("/dev/zero");
              } catch (const FileError&) {
                return 3;
              }
              return 0;
            }),
            3);
}

TEST_F(Files, AFifoWithoutAWriterReadsAsEmpty) {
  ASSERT_EQ(mkfifo((dir_ / "fifo").c_str(), 0600), 0);
  const fs::path fifo = dir_ / "fifo";
  EXPECT_EQ(ExitStatusOfChild([&] { return ReadFileBytes(fifo) == std::optional<std::string>("") ? 3 : 0; }),
            3);
}

TEST_F(Files, ReplacingWritesTheNewBytesAndLeavesNoTemporaryFile) {
  Write(dir_ / "log.txt", "old");
  fs::permissions(dir_ / "log.txt", fs::perms(0640));
  ReplaceFileAtomically(dir_ / "log.txt", std::string("new\0\r\n", 6));
  EXPECT_EQ(Read(dir_ / "log.txt"), std::string("new\0\r\n", 6));
  EXPECT_EQ(fs::status(dir_ / "log.txt").permissions(), fs::perms(0640));
  ReplaceFileAtomically(dir_ / "log.txt", "");
  EXPECT_EQ(Read(dir_ / "log.txt"), "");
  EXPECT_EQ(Names(), std::vector<std::string>{"log.txt"});
}

TEST_F(Files, ANewFileGetsThePermissionsOfTheUmask) {
  const mode_t old_mask = umask(027);
  ReplaceFileAtomically(dir_ / "new.txt", "x");
  umask(old_mask);
  EXPECT_EQ(fs::status(dir_ / "new.txt").permissions(), fs::perms(0640));
  EXPECT_EQ(Read(dir_ / "new.txt"), "x");
}

TEST_F(Files, ReplacingKeepsTheOwner) {
  if (geteuid() != 0) GTEST_SKIP() << "only root can give a file away";
  Write(dir_ / "owned.txt", "old");
  ASSERT_EQ(chown((dir_ / "owned.txt").c_str(), 4321, 4322), 0);
  ReplaceFileAtomically(dir_ / "owned.txt", "new");
  struct stat info {};
  ASSERT_EQ(stat((dir_ / "owned.txt").c_str(), &info), 0);
  EXPECT_EQ(info.st_uid, 4321u);
  EXPECT_EQ(info.st_gid, 4322u);
}

TEST_F(Files, ReplacingThroughSymbolicLinksKeepsTheLinks) {
  fs::create_directory(dir_ / "data");
  Write(dir_ / "data" / "real.txt", "old");
  fs::create_symlink("data/real.txt", dir_ / "middle.txt");
  fs::create_symlink(dir_ / "middle.txt", dir_ / "link.txt");
  ReplaceFileAtomically(dir_ / "link.txt", "new");
  EXPECT_TRUE(fs::is_symlink(fs::symlink_status(dir_ / "link.txt")));
  EXPECT_TRUE(fs::is_symlink(fs::symlink_status(dir_ / "middle.txt")));
  EXPECT_EQ(Read(dir_ / "data" / "real.txt"), "new");
  EXPECT_EQ(NamesIn(dir_ / "data"), std::vector<std::string>{"real.txt"});
  // A link to a file that is not there yet creates that file.
  fs::create_symlink("data/later.txt", dir_ / "later.txt");
  ReplaceFileAtomically(dir_ / "later.txt", "made");
  EXPECT_TRUE(fs::is_symlink(fs::symlink_status(dir_ / "later.txt")));
  EXPECT_EQ(Read(dir_ / "data" / "later.txt"), "made");
}

TEST_F(Files, ALoopOfLinksIsAnErrorAndStaysALoop) {
  fs::create_symlink("b", dir_ / "a");
  fs::create_symlink("a", dir_ / "b");
  EXPECT_THROW(ReplaceFileAtomically(dir_ / "a", "new"), FileError);
  EXPECT_TRUE(fs::is_symlink(fs::symlink_status(dir_ / "a")));
  EXPECT_EQ(Names(), (std::vector<std::string>{"a", "b"}));
}

TEST_F(Files, AFailedReplaceReportsTheFileAndKeepsWhatWasThere) {
  // A folder in the file's place, a file in its folder's place, a folder that is not there:
  // root can write none of them.
  fs::create_directory(dir_ / "getdata.txt");
  Write(dir_ / "getdata.txt" / "inside", "kept");
  EXPECT_EQ(ErrorText([&] { ReplaceFileAtomically(dir_ / "getdata.txt", "new"); }),
            Sjis("ファイル ") + (dir_ / "getdata.txt").string() + Sjis(" を作成できません"));
  Write(dir_ / "plain", "x");
  EXPECT_THROW(ReplaceFileAtomically(dir_ / "plain" / "logdata.txt", "new"), FileError);
  EXPECT_THROW(ReplaceFileAtomically(dir_ / "absent" / "logdata.txt", "new"), FileError);
  EXPECT_EQ(Read(dir_ / "getdata.txt" / "inside"), "kept");
  EXPECT_EQ(Read(dir_ / "plain"), "x");
  EXPECT_EQ(Names(), (std::vector<std::string>{"getdata.txt", "plain"}));
  EXPECT_EQ(NamesIn(dir_ / "getdata.txt"), std::vector<std::string>{"inside"});
}

TEST_F(Files, AFullDiskLeavesTheOldFileWhole) {
  Write(dir_ / "logdata.txt", "old contents");
  const fs::path file = dir_ / "logdata.txt";
  // A file-size limit stands in for a full disk.
  EXPECT_EQ(ExitStatusOfChild([&] {
              std::signal(SIGXFSZ, SIG_IGN);
              const rlimit limit{4096, 4096};
              setrlimit(RLIMIT_FSIZE, &limit);
              try {
                ReplaceFileAtomically(file, std::string(100000, 'x'));
              } catch (const FileError&) {
                return 3;
              }
              return 0;
            }),
            3);
  EXPECT_EQ(Read(dir_ / "logdata.txt"), "old contents");
  EXPECT_EQ(Names(), std::vector<std::string>{"logdata.txt"});
}

TEST_F(Files, ALongNameStillGetsItsTemporaryFile) {
  const std::string name(250, 'n');
  ReplaceFileAtomically(dir_ / name, "long");
  EXPECT_EQ(Read(dir_ / name), "long");
  EXPECT_EQ(Names(), std::vector<std::string>{name});
}

TEST_F(Files, ErrorTextsGiveTheNameInShiftJis) {
  const std::string raw = Sjis("取得.txt");  // copied from Windows
  fs::create_directory(dir_ / "国内");
  fs::create_directory(dir_ / "国内" / raw);
  EXPECT_EQ(ErrorText([&] { ReplaceFileAtomically(dir_ / "国内" / raw, "x"); }),
            Sjis("ファイル ") + dir_.string() + Sjis("/国内/取得.txt を作成できません"));
  EXPECT_EQ(SjisPathText(dir_ / "国内" / "取得.txt"), dir_.string() + Sjis("/国内/取得.txt"));
  EXPECT_EQ(SjisPathText("relative/a.txt"), "relative/a.txt");
}

TEST(SjisFromNativeName, ConvertsUtf8AndKeepsRawShiftJis) {
  const std::string sjis = Sjis("国内_毎日.txt");
  EXPECT_EQ(SjisFromNativeName("国内_毎日.txt"), sjis);
  EXPECT_EQ(SjisFromNativeName(sjis), sjis);
  EXPECT_EQ(SjisFromNativeName("plain.txt"), "plain.txt");
  EXPECT_EQ(SjisFromNativeName(""), "");
  // UTF-8 that CP932 cannot hold is taken as the bytes it is.
  EXPECT_EQ(SjisFromNativeName("caf\xC3\xA9.txt"), "caf\xC3\xA9.txt");
}

TEST_F(Files, ShiftJisNamesFindUtf8AndRawSpellings) {
  const std::string name = Sjis("国内_毎日.txt");
  EXPECT_EQ(PathInDirectory(dir_, name), dir_ / "国内_毎日.txt");  // the spelling of new files
  Write(dir_ / name, "raw");
  EXPECT_EQ(PathInDirectory(dir_, name), dir_ / name);
  Write(dir_ / "国内_毎日.txt", "utf8");
  EXPECT_EQ(PathInDirectory(dir_, name), dir_ / "国内_毎日.txt");
  EXPECT_EQ(PathInDirectory(dir_, "logdata.txt"), dir_ / "logdata.txt");
  // Not Shift_JIS at all: the raw bytes.
  EXPECT_EQ(PathInDirectory(dir_, "\xFF.txt"), dir_ / "\xFF.txt");
}

TEST_F(Files, ANameWithSeveralUtf8SpellingsIsFoundByWhatItGivesInShiftJis) {
  // U+301C WAVE DASH and U+2212 MINUS SIGN, as Linux input methods write them; CP932 gives
  // 81 60 and 81 7C, which read back as U+FF5E and U+FF0D.
  const std::string native = "ニュース\u301C速報\u2212夕刊.txt";
  Write(dir_ / native, "site");
  Write(dir_ / "other.txt", "");
  const std::string sjis = SjisFromNativeName(native);
  EXPECT_EQ(sjis, Sjis("ニュース～速報－夕刊.txt"));
  EXPECT_EQ(PathInDirectory(dir_, sjis), dir_ / native);
  EXPECT_EQ(Read(PathInDirectory(dir_, sjis)), "site");
  // A name that is not there still gives the UTF-8 spelling.
  EXPECT_EQ(PathInDirectory(dir_, Sjis("無い～.txt")), dir_ / "無い～.txt");
}

TEST_F(Files, HistoryFilesReadAndWriteAsLines) {
  EXPECT_TRUE(LoadHistory(dir_, kSeenLogName).empty());
  EXPECT_EQ(Names(), std::vector<std::string>{});  // reading creates nothing
  Write(dir_ / "logdata.txt", std::string("a\rb\nc\r\n\0junk", 12));
  EXPECT_EQ(LoadHistory(dir_, kSeenLogName), (std::vector<std::string>{"a", "b", "c"}));
  SaveHistory(dir_, kSeenLogName, {"x", "", "y"});
  EXPECT_EQ(Read(dir_ / "logdata.txt"), "x\r\n\r\ny\r\n");
  SaveHistory(dir_, kSeenLogName, {});
  EXPECT_EQ(Read(dir_ / "logdata.txt"), "");
  EXPECT_TRUE(LoadHistory(dir_, kSeenLogName).empty());
}

TEST_F(Files, HistoryFilesKeptAsTheirTextReadAndWriteAsLines) {
  EXPECT_EQ(LoadHistoryLines(dir_, kSeenLogName).size(), 0u);
  Write(dir_ / "logdata.txt", std::string("a\rb\nc\r\n\0junk", 12));
  HistoryLines lines = LoadHistoryLines(dir_, kSeenLogName);
  EXPECT_EQ(lines.Lines(), (std::vector<std::string>{"a", "b", "c"}));
  lines.Append("d");
  lines.Append("");
  lines.KeepLast(3);
  EXPECT_EQ(lines.Lines(), (std::vector<std::string>{"c", "d", ""}));
  lines.KeepLast(5);
  EXPECT_EQ(lines.size(), 3u);
  SaveHistoryLines(dir_, kSeenLogName, lines);
  EXPECT_EQ(Read(dir_ / "logdata.txt"), "c\r\nd\r\n\r\n");
  fs::remove(dir_ / "logdata.txt");
  fs::create_directory(dir_ / "logdata.txt");
  EXPECT_THROW(LoadHistoryLines(dir_, kSeenLogName), FileError);
}

TEST_F(Files, HistoryFilesThatCannotBeReadOrWrittenAreErrors) {
  fs::create_directory(dir_ / "logdata.txt");
  EXPECT_THROW(LoadHistory(dir_, kSeenLogName), FileError);
  EXPECT_EQ(ErrorText([&] { SaveHistory(dir_, kSeenLogName, {"a"}); }),
            Sjis("ファイル ") + (dir_ / "logdata.txt").string() + Sjis(" を作成できません"));
  EXPECT_TRUE(fs::is_directory(dir_ / "logdata.txt"));
}

TEST(HistoryContains, IsAnExactTestOfTheLines) {
  const std::vector<std::string> lines{"http://a.example/12", "b", "http://a.example/?id=123"};
  struct Case {
    std::string link;
    bool present;
  };
  const Case cases[] = {
      {"http://a.example/12", true},
      {"http://a.example/1", false},  // a part of a longer stored link
      {"http://a.example/?id=12", false},
      {"a.example", false},
      {"http://a.example/123", false},
      {"12\r\nb", false},  // across the line end
      {"b\r\n", false},
      {"b", true},
      {"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(HistoryContains(lines, c.link), c.present) << c.link;
  EXPECT_FALSE(HistoryContains({}, ""));
  EXPECT_TRUE(HistoryContains({"a", ""}, ""));
}

TEST(LineSet, HoldsExactlyTheLinesInserted) {
  std::mt19937 random(1208);
  for (int round = 0; round < 300; ++round) {
    // Short lines over two letters meet often; the set grows past its first size.
    std::vector<std::string> lines(random() % 200);
    for (auto& line : lines) line = std::string(random() % 6, 'a') + (random() % 2 ? "b" : "");
    LineSet set;
    if (round % 2 == 0) set.Reserve(lines.size());
    for (const auto& line : lines) set.Insert(line);
    for (int probe = 0; probe < 20; ++probe) {
      const std::string link = std::string(random() % 7, 'a') + (random() % 2 ? "b" : "");
      ASSERT_EQ(set.Contains(link), HistoryContains(lines, link)) << "round " << round << " link " << link;
    }
  }
}

TEST_F(Files, RecordingAVisitAppendsOnlyWhatIsNotPresent) {
  RecordVisit(dir_, "http://news.example/1.html");
  RecordVisit(dir_, "http://news.example/1.html");
  RecordVisit(dir_, "http://news.example/1");  // a part of a stored link: a link of its own
  RecordVisit(dir_, "http://news.example/2.html");
  RecordVisit(dir_, "http://news.example/1");
  EXPECT_EQ(Read(dir_ / "visitdata.txt"),
            "http://news.example/1.html\r\nhttp://news.example/1\r\nhttp://news.example/2.html\r\n");
}

// A visit is appended to the file as it is: the lines before keep every byte, and a last line
// without a line end gets one first.
TEST_F(Files, RecordingAVisitAppendsToTheLogAsItIs) {
  struct Case {
    const char* before;
    const char* link;
    const char* after;
  };
  const Case cases[] = {
      {"http://a/\nhttp://b/", "http://b/", "http://a/\nhttp://b/"},  // present: nothing written
      {"http://a/\nhttp://b/", "http://c/", "http://a/\nhttp://b/\r\nhttp://c/\r\n"},
      {"http://a/\n", "http://c/", "http://a/\nhttp://c/\r\n"},
      {"http://a/\r", "http://c/", "http://a/\rhttp://c/\r\n"},
      {"", "http://c/", "http://c/\r\n"},
      {"http://a/\r\nhttp://c", "http://c/", "http://a/\r\nhttp://c\r\nhttp://c/\r\n"},  // a line cut short
  };
  for (const auto& c : cases) {
    Write(dir_ / "visitdata.txt", c.before);
    RecordVisit(dir_, c.link);
    EXPECT_EQ(Read(dir_ / "visitdata.txt"), c.after) << c.before;
  }
}

TEST_F(Files, AVisitLogWithANulByteIsWrittenAnewSoThatTheVisitCounts) {
  Write(dir_ / "visitdata.txt", std::string("http://a/\r\n\0junk", 16));
  RecordVisit(dir_, "http://b/");
  EXPECT_EQ(Read(dir_ / "visitdata.txt"), "http://a/\r\nhttp://b/\r\n");
}

// The visit log is read once and kept; a change made to the file from outside is still seen.
TEST_F(Files, TheKeptVisitLogFollowsTheFile) {
  VisitLog log(dir_);
  EXPECT_EQ(log.Lines().lines().size(), 0u);
  log.Record("http://a/");
  log.Record("http://b/");
  EXPECT_TRUE(log.Lines().Contains("http://a/"));
  EXPECT_EQ(log.Lines().lines().Lines(), (std::vector<std::string>{"http://a/", "http://b/"}));

  Write(dir_ / "visitdata.txt", "http://outside/\r\n");
  EXPECT_FALSE(log.Lines().Contains("http://a/"));
  EXPECT_TRUE(log.Lines().Contains("http://outside/"));
  log.Record("http://outside/");
  log.Record("http://a/");
  EXPECT_EQ(Read(dir_ / "visitdata.txt"), "http://outside/\r\nhttp://a/\r\n");

  // Another writer between two records: its line is kept, and seen.
  VisitLog other(dir_);
  other.Record("http://other/");
  log.Record("http://c/");
  EXPECT_EQ(Read(dir_ / "visitdata.txt"), "http://outside/\r\nhttp://a/\r\nhttp://other/\r\nhttp://c/\r\n");
  EXPECT_TRUE(log.Lines().Contains("http://other/"));
  EXPECT_TRUE(log.Lines().Contains("http://c/"));

  fs::remove(dir_ / "visitdata.txt");
  EXPECT_FALSE(log.Lines().Contains("http://c/"));
}

// Many appends move the kept text; every line stays found.
TEST(IndexedLines, FindsEveryLineAcrossAppends) {
  IndexedLines lines{"http://first/"};
  for (int i = 0; i < 5000; ++i) lines.Append("http://x/" + std::to_string(i));
  for (int i = 0; i < 5000; ++i) ASSERT_TRUE(lines.Contains("http://x/" + std::to_string(i))) << i;
  EXPECT_TRUE(lines.Contains("http://first/"));
  EXPECT_FALSE(lines.Contains("http://x/5000"));
  EXPECT_EQ(lines.lines().size(), 5001u);
}

// Blocks from 1 MB on are mapped on their own and aligned for huge pages; each size is freed as
// it was allocated, small or large, also while a vector grows through the limit.
TEST(LargeBlockAllocator, GivesWholeBlocksOnEitherSideOfTheLimit) {
  LargeBlockAllocator<char> allocator;
  for (const std::size_t size : {std::size_t{16}, kLargeBlockBytes - 1, kLargeBlockBytes, 5 * kLargeBlockBytes + 3}) {
    char* block = allocator.allocate(size);
    block[0] = 'a';
    block[size - 1] = 'z';
    EXPECT_EQ(block[0] + block[size - 1], 'a' + 'z');
    if (size >= kLargeBlockBytes) {
      EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % (2u << 20), 0u) << size;
    }
    allocator.deallocate(block, size);
  }
  LargeVector<std::size_t> values;
  for (std::size_t i = 0; i < 3 * kLargeBlockBytes / sizeof(std::size_t); ++i) values.push_back(i);
  values.resize(10);
  values.shrink_to_fit();
  EXPECT_EQ(values.back(), 9u);
}

// A log of megabytes, kept in large blocks, is read whole and follows its appends.
TEST_F(Files, ALongVisitLogIsReadWholeAndFollowsItsAppends) {
  std::string log;
  for (int i = 0; i < 70000; ++i) log += "http://127.0.0.1/site/" + std::to_string(i) + ".html\r\n";
  ASSERT_GT(log.size(), 2 * kLargeBlockBytes);
  Write(dir_ / "visitdata.txt", log);
  VisitLog visits(dir_);
  for (const int i : {0, 35000, 69999}) {
    EXPECT_TRUE(visits.Lines().Contains("http://127.0.0.1/site/" + std::to_string(i) + ".html")) << i;
  }
  EXPECT_FALSE(visits.Lines().Contains("http://127.0.0.1/site/70000.html"));
  for (int i = 70000; i < 71000; ++i) visits.Record("http://127.0.0.1/site/" + std::to_string(i) + ".html");
  EXPECT_EQ(visits.Lines().lines().size(), 71000u);
  EXPECT_TRUE(visits.Lines().Contains("http://127.0.0.1/site/70999.html"));
  EXPECT_EQ(LoadHistoryLines(dir_, kVisitLogName).size(), 71000u);
}

TEST_F(Files, AVisitLogThatCannotBeReadIsAnErrorAndNothingIsLost) {
  fs::create_directory(dir_ / "visitdata.txt");
  Write(dir_ / "visitdata.txt" / "keep", "k");
  EXPECT_THROW(RecordVisit(dir_, "http://x/"), FileError);
  EXPECT_EQ(Read(dir_ / "visitdata.txt" / "keep"), "k");
}

}  // namespace
}  // namespace korinbo
