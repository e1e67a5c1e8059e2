// The history files: line files in the start directory, and the presence test of a link.
#include "korinbo/history.h"

#include "korinbo/file_io.h"

namespace korinbo {
namespace {

constexpr std::string_view kLineEnd = "\r\n";

// Finds a text in a stream of pieces as if they were one text, without joining them: a match
// inside a piece is found by the piece, one across pieces by the carried tail of what came
// before (the last size - 1 bytes) followed by the head of the next piece.
class StreamSearch {
 public:
  explicit StreamSearch(std::string_view needle) : needle_(needle) {
    if (needle_.size() > 1) {
      carry_.reserve(needle_.size() - 1);
      window_.reserve(2 * (needle_.size() - 1));
    }
  }

  // True once the needle has been seen.
  bool Feed(std::string_view piece) {
    if (piece.find(needle_) != std::string_view::npos) return true;
    const std::size_t keep = needle_.size() - 1;  // the needle is never empty here
    if (keep == 0) return false;
    if (!carry_.empty()) {
      window_.assign(carry_);
      window_.append(piece.substr(0, keep));
      if (window_.find(needle_) != std::string::npos) return true;
    }
    if (piece.size() >= keep) {
      carry_.assign(piece.substr(piece.size() - keep));
    } else {
      carry_.append(piece);
      if (carry_.size() > keep) carry_.erase(0, carry_.size() - keep);
    }
    return false;
  }

 private:
  std::string_view needle_;
  std::string carry_;
  std::string window_;
};

}  // namespace

HistoryLines HistoryLines::FromText(std::string text) {
  HistoryLines lines;
  SplitLineSpans(text, lines.starts_, lines.sizes_);
  lines.text_ = std::move(text);
  return lines;
}

template <typename Texts>
void HistoryLines::AppendAll(const Texts& lines) {
  for (const auto& line : lines) Append(line);
}

HistoryLines::HistoryLines(const std::vector<std::string>& lines) { AppendAll(lines); }
HistoryLines::HistoryLines(std::initializer_list<std::string_view> lines) { AppendAll(lines); }

std::vector<std::string> HistoryLines::Lines() const {
  std::vector<std::string> lines;
  lines.reserve(size());
  for (std::size_t i = 0; i < size(); ++i) lines.emplace_back((*this)[i]);
  return lines;
}

void HistoryLines::Append(std::string_view line) {
  starts_.push_back(text_.size());
  sizes_.push_back(line.size());
  text_.append(line);
}

void HistoryLines::KeepLast(std::size_t count) {
  if (size() <= count) return;
  HistoryLines kept;
  kept.Reserve(count, text_.size());
  for (std::size_t i = size() - count; i < size(); ++i) kept.Append((*this)[i]);
  *this = std::move(kept);
}

void HistoryLines::Reserve(std::size_t lines, std::size_t bytes) {
  starts_.reserve(starts_.size() + lines);
  sizes_.reserve(sizes_.size() + lines);
  text_.reserve(text_.size() + bytes);
}

std::string HistoryLines::Joined() const {
  std::size_t bytes = 0;
  for (const std::size_t line : sizes_) bytes += line + kLineEnd.size();
  std::string joined;
  joined.reserve(bytes);
  for (std::size_t i = 0; i < size(); ++i) {
    joined.append((*this)[i]);
    joined.append(kLineEnd);
  }
  return joined;
}

HistoryLines LoadHistoryLines(const std::filesystem::path& start_dir, std::string_view file_name) {
  auto bytes = ReadFileBytes(PathInDirectory(start_dir, file_name));
  return bytes ? HistoryLines::FromText(std::move(*bytes)) : HistoryLines{};
}

std::vector<std::string> LoadHistory(const std::filesystem::path& start_dir, std::string_view file_name) {
  const auto bytes = ReadFileBytes(PathInDirectory(start_dir, file_name));
  return bytes ? SplitLines(*bytes) : std::vector<std::string>{};
}

void SaveHistory(const std::filesystem::path& start_dir, std::string_view file_name,
                 const std::vector<std::string>& lines, Durability durability) {
  ReplaceFileAtomically(PathInDirectory(start_dir, file_name), JoinLines(lines), durability);
}

void SaveHistoryLines(const std::filesystem::path& start_dir, std::string_view file_name, const HistoryLines& lines,
                      Durability durability) {
  ReplaceFileAtomically(PathInDirectory(start_dir, file_name), lines.Joined(), durability);
}

bool HistoryContains(const std::vector<std::string>& lines, std::string_view link) {
  // The empty text occurs in every text, the empty joined text included.
  if (link.empty()) return true;
  StreamSearch search(link);
  for (const auto& line : lines) {
    if (search.Feed(line) || search.Feed(kLineEnd)) return true;
  }
  return false;
}

void RecordVisit(const std::filesystem::path& start_dir, std::string_view link) {
  auto visits = LoadHistory(start_dir, kVisitLogName);
  if (!HistoryContains(visits, link)) visits.emplace_back(link);
  SaveHistory(start_dir, kVisitLogName, visits);
}

}  // namespace korinbo
