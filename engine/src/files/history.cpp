// The history files: line files in the start directory, and the presence test of a link.
#include "korinbo/history.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>

#include "korinbo/file_io.h"

namespace korinbo {
namespace {

constexpr std::string_view kLineEnd = "\r\n";

// A fast hash of a short text, eight bytes at a time; texts are always compared after it agrees.
std::uint64_t Hash(std::string_view text) {
  constexpr std::uint64_t kMultiplier = 0x9e3779b97f4a7c15ull;
  auto word = [&](std::size_t at) {
    std::uint64_t bytes = 0;
    std::memcpy(&bytes, text.data() + at, sizeof bytes);
    return bytes;
  };
  std::uint64_t hash = text.size() * kMultiplier;
  std::size_t i = 0;
  for (; i + 8 <= text.size(); i += 8) hash = ((hash ^ word(i)) * kMultiplier) ^ (hash >> 29);
  if (i < text.size()) {
    // The last eight bytes, overlapping those already taken; a short text byte by byte.
    std::uint64_t rest = 0;
    if (text.size() >= 8) {
      rest = word(text.size() - 8);
    } else {
      for (; i < text.size(); ++i) rest = rest << 8 | static_cast<unsigned char>(text[i]);
    }
    hash = (hash ^ rest) * kMultiplier;
  }
  // The finaliser of MurmurHash3 (fmix64): the set takes the low bits, which the multiplications
  // above leave alike for lines that differ near their end; without it, 100,000 links of one
  // site's form took 14 probes each instead of 0.3.
  hash ^= hash >> 33;
  hash *= 0xff51afd7ed558ccdull;
  hash ^= hash >> 33;
  hash *= 0xc4ceb9fe1a85ec53ull;
  return hash ^ (hash >> 33);
}

}  // namespace

void LineSet::Reserve(std::size_t count) {
  std::size_t size = 16;
  while (size < count * 2) size *= 2;
  if (size <= slots_.size()) return;
  LargeVector<std::string_view> old = std::move(slots_);
  slots_.assign(size, std::string_view());
  used_ = 0;
  for (const std::string_view line : old) {
    if (!line.empty()) Insert(line);
  }
}

std::size_t LineSet::SlotOf(std::string_view line) const {
  const std::size_t mask = slots_.size() - 1;
  std::size_t slot = static_cast<std::size_t>(Hash(line)) & mask;
  while (!slots_[slot].empty() && slots_[slot] != line) slot = (slot + 1) & mask;
  return slot;
}

bool LineSet::Insert(std::string_view line) {
  if (line.empty()) return !std::exchange(has_empty_, true);
  if ((used_ + 1) * 2 > slots_.size()) Reserve(used_ + 1);  // at most half full
  std::string_view& slot = slots_[SlotOf(line)];
  if (!slot.empty()) return false;
  slot = line;
  ++used_;
  return true;
}

bool LineSet::Contains(std::string_view line) const {
  if (line.empty()) return has_empty_;
  return used_ != 0 && !slots_[SlotOf(line)].empty();
}

HistoryLines HistoryLines::FromText(std::string_view text) { return FromText(LargeString(text)); }

HistoryLines HistoryLines::FromText(LargeString text) {
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

void IndexedLines::Assign(HistoryLines lines) {
  lines_ = std::move(lines);
  // Room for the lines a session appends, so that the text seldom moves under the set's views.
  lines_.Reserve(0, kSpareBytes);
  IndexAll();
}

void IndexedLines::IndexAll() {
  set_ = LineSet();
  set_.Reserve(lines_.size());
  for (std::size_t i = 0; i < lines_.size(); ++i) set_.Insert(lines_[i]);
}

void IndexedLines::Append(std::string_view line) {
  const char* text = lines_.TextData();
  lines_.Append(line);
  if (lines_.TextData() != text) {
    IndexAll();
  } else {
    set_.Insert(lines_[lines_.size() - 1]);
  }
}

const IndexedLines& VisitLog::Lines(const std::function<void()>& between_steps) {
  const std::filesystem::path path = PathInDirectory(start_dir_, kVisitLogName);
  const std::optional<FileStamp> stamp = StampOf(path);
  if (stamp && stamp == stamp_) return lines_;
  stamp_.reset();
  std::optional<LargeString> bytes = ReadLargeFileBytes(path, IndexedLines::kSpareBytes);
  auto step = [&between_steps] {
    if (between_steps) between_steps();
  };
  step();
  cut_ = bytes && bytes->find('\0') != std::string::npos;
  HistoryLines lines = bytes ? HistoryLines::FromText(std::move(*bytes)) : HistoryLines{};
  step();
  lines_.Assign(std::move(lines));
  // A change during the read shows as a stamp other than this one, and the file is read again.
  stamp_ = stamp;
  return lines_;
}

void VisitLog::Record(std::string_view link) {
  if (Lines().Contains(link)) return;
  if (cut_) {
    // An appended line would follow the NUL byte and never be read: the log is written anew.
    HistoryLines lines = lines_.lines();
    lines.Append(link);
    stamp_.reset();
    SaveHistoryLines(start_dir_, kVisitLogName, lines);
    return;
  }
  const AppendedStamps stamps = AppendLine(PathInDirectory(start_dir_, kVisitLogName), link);
  // Unless someone else changed the file since it was read, it is now what lines_ and the link make.
  const bool created = stamp_ && !stamp_->exists && stamps.before.size == 0;
  if (stamp_ == stamps.before || created) {
    lines_.Append(link);
    stamp_ = stamps.after;
  } else {
    stamp_.reset();
  }
}

HistoryLines LoadHistoryLines(const std::filesystem::path& start_dir, std::string_view file_name) {
  auto bytes = ReadLargeFileBytes(PathInDirectory(start_dir, file_name));
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
  return std::find(lines.begin(), lines.end(), link) != lines.end();
}

void RecordVisit(const std::filesystem::path& start_dir, std::string_view link) { VisitLog(start_dir).Record(link); }

}  // namespace korinbo
