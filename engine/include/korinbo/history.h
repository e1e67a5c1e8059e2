#pragma once
// The history files in the start directory: the seen log, the visit log and the page dump.
#include <cstddef>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "korinbo/file_io.h"

namespace korinbo {

inline constexpr std::string_view kSeenLogName = "logdata.txt";
inline constexpr std::string_view kVisitLogName = "visitdata.txt";
inline constexpr std::string_view kPageDumpName = "getdata.txt";
inline constexpr std::size_t kSeenLogLimit = 1000;

// A history list kept as one text and where each of its lines lies, so that a long visit log is
// loaded and looked through without a string for every line.
class HistoryLines {
 public:
  HistoryLines() = default;
  // The lines of a file's bytes, as SplitLines gives them.
  static HistoryLines FromText(std::string_view text);
  static HistoryLines FromText(LargeString text);
  explicit HistoryLines(const std::vector<std::string>& lines);
  HistoryLines(std::initializer_list<std::string_view> lines);

  std::size_t size() const { return starts_.size(); }
  std::string_view operator[](std::size_t i) const { return std::string_view(text_).substr(starts_[i], sizes_[i]); }
  std::vector<std::string> Lines() const;

  void Append(std::string_view line);
  // Drops the oldest lines but the last `count`.
  void KeepLast(std::size_t count);
  // Room for this many more lines of about the given size.
  void Reserve(std::size_t lines, std::size_t bytes);
  // Every line followed by CR LF.
  std::string Joined() const;
  // Where the lines' text lies: it moves when an append outgrows its room.
  const char* TextData() const { return text_.data(); }

 private:
  template <typename Texts>
  void AppendAll(const Texts& lines);

  LargeString text_;
  LargeVector<std::size_t> starts_;
  LargeVector<std::size_t> sizes_;
};

// Lines, for the test whether a history list holds a link as one of its lines, as a set: the
// fetch looks up many links at once. It keeps views: the texts must outlive it.
class LineSet {
 public:
  void Reserve(std::size_t count);
  // False when the line was there already.
  bool Insert(std::string_view line);
  bool Contains(std::string_view line) const;

 private:
  std::size_t SlotOf(std::string_view line) const;  // the line's slot, or the free one it would take

  LargeVector<std::string_view> slots_;  // open addressing; an empty view is a free slot
  std::size_t used_ = 0;
  bool has_empty_ = false;  // the empty line, which no slot can hold
};

// A history list with the set of its lines, for many presence tests at once: the visit log. The
// set is built once and follows appends.
class IndexedLines {
 public:
  IndexedLines() = default;
  IndexedLines(HistoryLines lines) { Assign(std::move(lines)); }  // implicit: a list as it is read
  IndexedLines(std::initializer_list<std::string_view> lines) : IndexedLines(HistoryLines(lines)) {}
  // The set holds views of the lines' text.
  IndexedLines(const IndexedLines&) = delete;
  IndexedLines& operator=(const IndexedLines&) = delete;

  // Room kept in the text for appended lines; a text read with this much spare capacity is not
  // copied.
  static constexpr std::size_t kSpareBytes = 16 * 1024;

  void Assign(HistoryLines lines);
  void Append(std::string_view line);
  const HistoryLines& lines() const { return lines_; }
  bool Contains(std::string_view line) const { return set_.Contains(line); }

 private:
  void IndexAll();

  HistoryLines lines_;
  LineSet set_;
};

// The visit log kept in memory between uses, read again only when the file has changed since
// (see FileStamp), so that a long log is read once for many fetches and openings while a change
// from outside is still seen.
class VisitLog {
 public:
  explicit VisitLog(std::filesystem::path start_dir) : start_dir_(std::move(start_dir)) {}

  // The lines as the file holds them now; a missing file has none. A long log takes a while to
  // read again: between its steps `between_steps` runs, so that a window can paint. Throws
  // FileError.
  const IndexedLines& Lines(const std::function<void()>& between_steps = {});
  // RecordVisit: unless a line equals the link, it is appended to the file as AppendLine does,
  // which never touches the lines before it. Throws FileError.
  void Record(std::string_view link);

 private:
  std::filesystem::path start_dir_;
  IndexedLines lines_;
  std::optional<FileStamp> stamp_;  // of the file lines_ was read from; none: read it again
  bool cut_ = false;                // the file holds a NUL byte, after which nothing counts
};

// A missing file is the empty list. Throws FileError when the file cannot be read.
HistoryLines LoadHistoryLines(const std::filesystem::path& start_dir, std::string_view file_name);
std::vector<std::string> LoadHistory(const std::filesystem::path& start_dir, std::string_view file_name);
// Replaces the file atomically with every line followed by CR LF. Throws FileError.
void SaveHistory(const std::filesystem::path& start_dir, std::string_view file_name,
                 const std::vector<std::string>& lines, Durability durability = Durability::kFlushed);
void SaveHistoryLines(const std::filesystem::path& start_dir, std::string_view file_name, const HistoryLines& lines,
                      Durability durability = Durability::kFlushed);
// True when one of the lines equals the link byte for byte.
bool HistoryContains(const std::vector<std::string>& lines, std::string_view link);
// Appends the link to the visit log unless a line equals it (VisitLog::Record).
void RecordVisit(const std::filesystem::path& start_dir, std::string_view link);

}  // namespace korinbo
