#pragma once
// The history files in the start directory: the seen log, the visit log and the page dump.
#include <cstddef>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <string_view>
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
  static HistoryLines FromText(std::string text);
  explicit HistoryLines(const std::vector<std::string>& lines);
  HistoryLines(std::initializer_list<std::string_view> lines);

  std::size_t size() const { return starts_.size(); }
  std::string_view operator[](std::size_t i) const { return std::string_view(text_).substr(starts_[i], sizes_[i]); }
  const std::vector<std::size_t>& Sizes() const { return sizes_; }
  std::vector<std::string> Lines() const;

  void Append(std::string_view line);
  // Drops the oldest lines but the last `count`.
  void KeepLast(std::size_t count);
  // Room for this many more lines of about the given size.
  void Reserve(std::size_t lines, std::size_t bytes);
  // Every line followed by CR LF.
  std::string Joined() const;

 private:
  template <typename Texts>
  void AppendAll(const Texts& lines);

  std::string text_;
  std::vector<std::size_t> starts_;
  std::vector<std::size_t> sizes_;
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

  std::vector<std::string_view> slots_;  // open addressing; an empty view is a free slot
  std::size_t used_ = 0;
  bool has_empty_ = false;  // the empty line, which no slot can hold
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
// Appends the link to the visit log unless it is present, and writes the log back either way.
void RecordVisit(const std::filesystem::path& start_dir, std::string_view link);

}  // namespace korinbo
