// korinbo-fetch: the headline fetch from a terminal, for site authors and scripts.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "korinbo/in_memory_window.h"
#include "korinbo/codepage.h"
#include "korinbo/directory_lock.h"
#include "korinbo/errors.h"
#include "korinbo/fetch.h"
#include "korinbo/file_io.h"
#include "korinbo/pattern.h"
#include "korinbo/site_check.h"
#include "korinbo/site_health.h"
#include "korinbo/site_tree.h"

namespace korinbo {
namespace {

constexpr int kExitDone = 0;
constexpr int kExitEndedEarly = 1;
constexpr int kExitUsage = 2;

constexpr std::string_view kUsage =
    "usage: korinbo-fetch [--dir DIR] [--proxy-mode MODE] [--proxy SERVER:PORT] [--raw] [--tsv] COMMAND ARGS...\n"
    "\n"
    "commands:\n"
    "  site CATEGORY SITE      fetch one site of DIR/newsurl, as a double-click in the window does\n"
    "  category CATEGORY       fetch every site of a category (\"お気に入り\" for the favourites)\n"
    "  check [CATEGORY]        the window's background check of a category (default: the favourites):\n"
    "                          each site's count of new headlines and its outcome; nothing is written\n"
    "  extract DEFINITION PAGE apply a site definition to a saved page (empty history, no files written)\n"
    "  convert ENCODE FILE     print FILE as the fetch sees it after line ends and the encode conversion\n"
    "  match PATTERN [FILE]    every match of a pattern in FILE (or standard input)\n"
    "\n"
    "options:\n"
    "  --dir DIR          the start directory (default: the working directory)\n"
    "  --proxy-mode MODE  DIRECT (default), PRECONFIG (proxy environment variables) or PROXY\n"
    "  --proxy S:P        the proxy server for PROXY mode\n"
    "  --raw              write texts as Shift_JIS bytes instead of UTF-8\n"
    "  --tsv              match: one tab-separated line per match with 0-based byte offsets\n"
    "\n"
    "Rows: icon (new, unread, read), caption, remark, link, tab-separated. Message boxes and the\n"
    "final window title go to standard error, then a line \"site: outcome\" for each site that gave no\n"
    "headlines. check prints site, new count and outcome, tab-separated, and writes nothing.\n"
    "Exit status: 0 done, 1 the fetch ended early, 2 usage.\n"
    "site and category hold DIR while they run: they wait up to 10 s for another fetch, and end\n"
    "with 1 while a korinbo window has DIR open.\n";

struct Options {
  std::filesystem::path dir = ".";
  std::string proxy_mode = "DIRECT";
  std::string proxy;
  bool raw = false;
  bool tsv = false;
  std::string command;
  std::vector<std::string> args;  // as given on the command line
};

// Arguments come in the terminal's encoding; the program's texts are Shift_JIS.
std::string FromTerminal(const std::string& arg) {
  if (auto sjis = Utf8ToCp932(arg)) return *sjis;
  return arg;
}

bool IsSjisLead(unsigned char byte) { return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC); }

class Output {
 public:
  explicit Output(bool raw) : raw_(raw) {}

  // A field with "\", TAB, CR and LF escaped, character by character: the second byte of a
  // double-byte character is never a backslash.
  std::string Field(std::string_view sjis) const {
    std::string escaped;
    escaped.reserve(sjis.size());
    for (std::size_t i = 0; i < sjis.size(); ++i) {
      const auto byte = static_cast<unsigned char>(sjis[i]);
      if (IsSjisLead(byte) && i + 1 < sjis.size()) {
        escaped += sjis[i];
        escaped += sjis[++i];
        continue;
      }
      switch (sjis[i]) {
        case '\\': escaped += "\\\\"; break;
        case '\t': escaped += "\\t"; break;
        case '\r': escaped += "\\r"; break;
        case '\n': escaped += "\\n"; break;
        default: escaped += sjis[i];
      }
    }
    return Text(escaped);
  }
  std::string Text(std::string_view sjis) const { return raw_ ? std::string(sjis) : Cp932ToUtf8Lossy(sjis); }

  void Row(const HeadlineRow& row) const {
    static constexpr std::string_view kIcons[] = {"new", "unread", "read"};
    const auto icon = row.icon >= 0 && row.icon <= 2 ? kIcons[row.icon] : std::string_view("?");
    std::cout << icon << '\t' << Field(row.caption) << '\t' << Field(row.remark) << '\t' << Field(row.link) << '\n';
  }
  void Message(std::string_view sjis) const { std::cerr << Text(sjis) << '\n' << std::flush; }

 private:
  bool raw_;
};

std::optional<Options> ParseOptions(int argc, char** argv, int& exit_code) {
  Options options;
  int i = 1;
  auto value = [&](std::string& out) {
    if (i + 1 >= argc) return false;
    out = argv[++i];
    return true;
  };
  for (; i < argc; ++i) {
    const std::string_view arg = argv[i];
    std::string text;
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      exit_code = kExitDone;
      return std::nullopt;
    } else if (arg == "--dir") {
      if (!value(text)) break;
      options.dir = text;
    } else if (arg == "--proxy-mode") {
      if (!value(options.proxy_mode)) break;
    } else if (arg == "--proxy") {
      if (!value(text)) break;
      options.proxy = FromTerminal(text);
    } else if (arg == "--raw") {
      options.raw = true;
    } else if (arg == "--tsv") {
      options.tsv = true;
    } else if (!arg.empty() && arg[0] == '-') {
      std::cerr << "korinbo-fetch: unknown option " << arg << "\n" << kUsage;
      exit_code = kExitUsage;
      return std::nullopt;
    } else {
      options.command = arg;
      options.args.assign(argv + i + 1, argv + argc);
      return options;
    }
  }
  std::cerr << (i < argc ? "korinbo-fetch: an option lacks its value\n" : "korinbo-fetch: no command\n") << kUsage;
  exit_code = kExitUsage;
  return std::nullopt;
}

SiteTreeNode* FindChild(const std::vector<std::unique_ptr<SiteTreeNode>>& nodes, std::string_view text) {
  for (const auto& node : nodes) {
    if (node->text == text) return node.get();
  }
  return nullptr;
}

// The root of that name in the tree, or none after saying so.
SiteTreeNode* FindCategory(const SiteTree& tree, const std::filesystem::path& start_dir, const std::string& arg,
                           const std::string& category) {
  SiteTreeNode* root = FindChild(tree.roots, category);
  if (root == nullptr) {
    std::cerr << "korinbo-fetch: there is no category \"" << arg << "\" in "
              << (start_dir / std::string(kSiteFolderName)).string() << "\n";
  }
  return root;
}

// Waits a little for another fetch to end; a window keeps its directory until it closes.
std::optional<DirectoryLock> TakeStartDirectory(const std::filesystem::path& dir) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  for (;;) {
    DirectoryLock lock = DirectoryLock::TryTake(dir, "korinbo-fetch");
    if (lock.outcome() != DirectoryLock::Outcome::kBusy) return lock;
    if (std::chrono::steady_clock::now() >= deadline) {
      std::cerr << "korinbo-fetch: " << dir.string() << " is in use by another program ("
                << (lock.holder().empty() ? std::string("unknown") : lock.holder())
                << "); close the window on it or wait for the other fetch\n";
      return std::nullopt;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

int RunFetch(const Options& options, const Output& out) {
  const bool category_fetch = options.command == "category";
  if (options.args.size() != (category_fetch ? 1u : 2u)) {
    std::cerr << "korinbo-fetch: " << options.command << " takes " << (category_fetch ? "CATEGORY" : "CATEGORY SITE")
              << "\n" << kUsage;
    return kExitUsage;
  }
  InMemoryWindow window(std::filesystem::absolute(options.dir), Keyword<ProxyMode>(options.proxy_mode).mode(),
                        options.proxy, [&out](std::string_view text) { out.Message(text); });
  // The window, or another fetch, may be writing the same history files.
  const std::optional<DirectoryLock> lock = TakeStartDirectory(window.StartDirectory());
  if (!lock) return kExitEndedEarly;
  window.tree() = BuildSiteTree(window.StartDirectory(), "");
  SiteTreeNode* root =
      FindCategory(window.tree(), window.StartDirectory(), options.args[0], FromTerminal(options.args[0]));
  if (root == nullptr) return kExitEndedEarly;
  SiteTreeNode* selected = root;
  if (!category_fetch) {
    selected = FindChild(root->children, FromTerminal(options.args[1]));
    if (selected == nullptr) {
      std::cerr << "korinbo-fetch: there is no site \"" << options.args[1] << "\" in the category \""
                << options.args[0] << "\"\n";
      return kExitEndedEarly;
    }
  }
  window.Select(selected);

  Downloader downloader;
  HeadlineFetch fetch(window, downloader);
  SiteHealth health;
  fetch.SetSiteHealth(&health);
  bool completed = false;
  try {
    completed = category_fetch ? fetch.FetchCategory() : fetch.FetchSelectedSite();
  } catch (const std::exception& error) {
    out.Message(error.what());
  }
  for (const auto& row : window.rows()) out.Row(row);
  std::cout << std::flush;
  out.Message(window.title());
  // Each site that gave no headlines, and why: what the window's tree marks.
  std::vector<const SiteTreeNode*> sites{selected};
  if (category_fetch) {
    sites.clear();
    for (const auto& site : root->children) sites.push_back(site.get());
  }
  for (const SiteTreeNode* site : sites) {
    const SiteHealth::Entry* entry = health.Find(SiteFileNameOf(root->text, site->text));
    if (entry != nullptr && entry->outcome.kind != FetchOutcome::Kind::kHeadlines) {
      out.Message(site->text + ": " + entry->outcome.Text());
    }
  }
  return completed ? kExitDone : kExitEndedEarly;
}

int RunCheck(const Options& options, const Output& out) {
  if (options.args.size() > 1) {
    std::cerr << "korinbo-fetch: check takes [CATEGORY]\n" << kUsage;
    return kExitUsage;
  }
  const std::filesystem::path start_dir = std::filesystem::absolute(options.dir);
  const SiteTree tree = BuildSiteTree(start_dir, "");
  const std::string arg = options.args.empty() ? Cp932ToUtf8Lossy(FavouritesRootText()) : options.args[0];
  const SiteTreeNode* root = FindCategory(tree, start_dir, arg, FromTerminal(arg));
  if (root == nullptr) return kExitEndedEarly;
  std::vector<std::string> file_names;
  for (const auto& site : root->children) file_names.push_back(SiteFileNameOf(root->text, site->text));
  DownloadOptions download;
  download.use_proxy = Keyword<ProxyMode>(options.proxy_mode).mode();
  download.proxy_name = options.proxy;
  Downloader downloader;
  const std::vector<SiteCheck> checks = CheckSites(start_dir, file_names, download, downloader);
  for (std::size_t i = 0; i < checks.size(); ++i) {
    std::cout << out.Field(root->children[i]->text) << '\t' << checks[i].new_headlines.size() << '\t'
              << out.Field(checks[i].outcome.Text()) << '\n';
  }
  return kExitDone;
}

class CollectingSink : public HeadlineSink {
 public:
  int AppendRow(std::string_view caption) override {
    rows.push_back(HeadlineRow{std::string(caption), {}, {}, kIconNew});
    return static_cast<int>(rows.size() - 1);
  }
  void SetRemark(int row, std::string_view remark) override { rows.at(static_cast<std::size_t>(row)).remark = remark; }
  void SetIcon(int row, int icon) override { rows.at(static_cast<std::size_t>(row)).icon = icon; }
  void SetLink(int row, std::string_view link) override { rows.at(static_cast<std::size_t>(row)).link = link; }
  std::vector<HeadlineRow> rows;
};

std::optional<std::string> ReadInput(const std::string& file_name) {
  if (file_name == "-") {
    std::string bytes((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
    return bytes;
  }
  auto bytes = ReadFileBytes(file_name);
  if (!bytes) std::cerr << "korinbo-fetch: cannot find " << file_name << "\n";
  return bytes;
}

int RunExtract(const Options& options, const Output& out) {
  if (options.args.size() != 2) {
    std::cerr << "korinbo-fetch: extract takes DEFINITION PAGE\n" << kUsage;
    return kExitUsage;
  }
  const auto site = ReadSiteDefinitionFile(options.args[0]);
  if (!site) {
    std::cerr << "korinbo-fetch: cannot find " << options.args[0] << "\n";
    return kExitEndedEarly;
  }
  const auto page = ReadInput(options.args[1]);
  if (!page) return kExitEndedEarly;
  const std::string cut =
      CutHeadlineArea(ConvertByEncode(NormaliseLineEnds(*page), site->encode), site->str_start, site->str_end);
  HistoryLines seen_log;
  CollectingSink sink;
  int status = kExitDone;
  try {
    // Nothing is downloaded: the page's address is the url value.
    ExtractHeadlines(cut, *site, site->url, seen_log, {}, sink);
  } catch (const PatternError& error) {
    out.Message(error.what());
    status = kExitEndedEarly;
  }
  for (const auto& row : sink.rows) out.Row(row);
  return status;
}

int RunConvert(const Options& options) {
  if (options.args.size() != 2) {
    std::cerr << "korinbo-fetch: convert takes ENCODE FILE\n" << kUsage;
    return kExitUsage;
  }
  const auto page = ReadInput(options.args[1]);
  if (!page) return kExitEndedEarly;
  const std::string converted = ConvertByEncode(NormaliseLineEnds(*page), options.args[0]);
  std::fwrite(converted.data(), 1, converted.size(), stdout);
  return kExitDone;
}

int RunMatch(const Options& options, const Output& out) {
  if (options.args.empty() || options.args.size() > 2) {
    std::cerr << "korinbo-fetch: match takes PATTERN [FILE]\n" << kUsage;
    return kExitUsage;
  }
  const auto text = ReadInput(options.args.size() == 2 ? options.args[1] : "-");
  if (!text) return kExitEndedEarly;
  try {
    const Pattern pattern(FromTerminal(options.args[0]));
    int count = 0;
    pattern.ForEachMatch(*text, [&](const PatternMatch& match) {
      ++count;
      if (options.tsv) {
        std::cout << match.start() << '\t' << match.end();
        for (std::size_t g = 1; g < match.groups.size(); ++g) {
          std::cout << '\t' << match.groups[g].start << ':' << match.groups[g].end;
        }
        std::cout << '\n';
        return;
      }
      auto span_text = [&](const MatchSpan& span) {
        return out.Field(std::string_view(*text).substr(static_cast<std::size_t>(span.start),
                                                        static_cast<std::size_t>(span.end - span.start)));
      };
      std::cout << "match " << count << ": " << match.start() << '-' << match.end() << " \"" << span_text(match.groups[0])
                << "\"\n";
      for (std::size_t g = 1; g < match.groups.size(); ++g) {
        std::cout << "  $" << g << ": ";
        if (match.groups[g].matched()) {
          std::cout << match.groups[g].start << '-' << match.groups[g].end << " \"" << span_text(match.groups[g])
                    << "\"\n";
        } else {
          std::cout << "(no part in the match)\n";
        }
      }
    });
    if (!options.tsv) std::cout << count << (count == 1 ? " match\n" : " matches\n");
  } catch (const PatternError& error) {
    std::cout << std::flush;
    out.Message(error.what());
    return kExitEndedEarly;
  }
  return kExitDone;
}

int Run(int argc, char** argv) {
  int exit_code = kExitDone;
  const auto options = ParseOptions(argc, argv, exit_code);
  if (!options) return exit_code;
  const Output out(options->raw);
  try {
    if (options->command == "site" || options->command == "category") return RunFetch(*options, out);
    if (options->command == "check") return RunCheck(*options, out);
    if (options->command == "extract") return RunExtract(*options, out);
    if (options->command == "convert") return RunConvert(*options);
    if (options->command == "match") return RunMatch(*options, out);
  } catch (const FileError& error) {
    out.Message(error.what());
    return kExitEndedEarly;
  }
  std::cerr << "korinbo-fetch: unknown command " << options->command << "\n" << kUsage;
  return kExitUsage;
}

}  // namespace
}  // namespace korinbo

int main(int argc, char** argv) { return korinbo::Run(argc, argv); }
