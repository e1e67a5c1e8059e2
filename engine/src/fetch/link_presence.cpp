#include "fetch/link_presence.h"

#include <algorithm>
#include <cstring>

namespace korinbo {
namespace {

constexpr std::size_t kBlock = 2;

std::uint64_t Word(const char* at) {
  std::uint64_t word = 0;
  std::memcpy(&word, at, sizeof word);
  return word;
}

// A fast hash of a short text, eight bytes at a time; texts are always compared after it agrees.
std::uint32_t Hash(std::string_view text) {
  constexpr std::uint64_t kMultiplier = 0x9e3779b97f4a7c15ull;
  std::uint64_t hash = text.size() * kMultiplier;
  std::size_t i = 0;
  for (; i + 8 <= text.size(); i += 8) {
    hash = (hash ^ Word(text.data() + i)) * kMultiplier;
    hash ^= hash >> 29;
  }
  if (i < text.size()) {
    // The last eight bytes, overlapping those already taken; bytes one by one in a short text.
    std::uint64_t rest = 0;
    if (text.size() >= 8) {
      rest = Word(text.data() + text.size() - 8);
    } else {
      for (; i < text.size(); ++i) rest = rest << 8 | static_cast<unsigned char>(text[i]);
    }
    hash = (hash ^ rest) * kMultiplier;
  }
  return static_cast<std::uint32_t>(hash ^ (hash >> 32));
}

// Eight bytes at a time: links are short, and a call per byte value costs more than the bytes.
bool HasLineBreak(std::string_view text) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ull;
  auto has_zero_byte = [](std::uint64_t word) { return (word - kOnes) & ~word & kOnes * 0x80; };
  auto has_break = [&](std::uint64_t word) { return has_zero_byte(word ^ kOnes * '\r') | has_zero_byte(word ^ kOnes * '\n'); };
  if (text.size() < 8) return text.find_first_of("\r\n") != std::string_view::npos;
  std::uint64_t found = has_break(Word(text.data() + text.size() - 8));
  for (std::size_t i = 0; i + 8 <= text.size(); i += 8) found |= has_break(Word(text.data() + i));
  return found != 0;
}

std::size_t BlockSlot(const char* at) {
  const auto first = static_cast<unsigned char>(at[0]);
  const auto second = static_cast<unsigned char>(at[1]);
  return (static_cast<std::size_t>(first) << 4 ^ second) & 0xfff;
}

}  // namespace

void LinkIndex::HashTable::Reserve(std::size_t count) {
  std::size_t size = 16;
  while (size * 2 < count * 3) size *= 2;
  std::vector<Entry> old = std::move(entries);
  entries.assign(size, Entry{0, kNone});
  mask = size - 1;
  used = 0;
  for (const Entry& entry : old) {
    if (entry.value != kNone) Insert(entry.hash, entry.value);
  }
}

void LinkIndex::HashTable::Insert(std::uint32_t hash, std::uint32_t value) {
  if ((used + 1) * 3 > entries.size() * 2) Reserve(used * 2 + 2);  // at most two thirds full
  std::size_t slot = hash & mask;
  while (entries[slot].value != kNone) slot = (slot + 1) & mask;
  entries[slot] = Entry{hash, value};
  ++used;
}

template <typename Equal>
std::uint32_t LinkIndex::HashTable::FindOrInsert(std::uint32_t hash, std::uint32_t value, Equal&& equal) {
  if ((used + 1) * 3 > entries.size() * 2) Reserve(used * 2 + 2);
  std::size_t slot = hash & mask;
  for (; entries[slot].value != kNone; slot = (slot + 1) & mask) {
    if (entries[slot].hash == hash && equal(entries[slot].value)) return entries[slot].value;
  }
  entries[slot] = Entry{hash, value};
  ++used;
  return value;
}

template <typename Visit>
void LinkIndex::HashTable::ForEach(std::uint32_t hash, Visit&& visit) const {
  if (entries.empty()) return;
  for (std::size_t slot = hash & mask; entries[slot].value != kNone; slot = (slot + 1) & mask) {
    if (entries[slot].hash == hash) visit(entries[slot].value);
  }
}

std::uint32_t LinkIndex::FindOrAddDistinct(const Span& link) {
  const std::string_view text = std::string_view(*link.text).substr(link.offset, link.size);
  const auto added = static_cast<std::uint32_t>(distinct_.size());
  const std::uint32_t found =
      by_hash_.FindOrInsert(link.hash, added, [&](std::uint32_t distinct) { return Distinct(distinct) == text; });
  if (found == added) distinct_.push_back(link);
  return found;
}

LinkIndex::LinkIndex(const std::vector<std::string_view>& links) {
  for (const std::string_view link : links) {
    const std::size_t offset = copies_.size();
    copies_.append(link);
    AddAt(offset, link.size());
  }
  Finish();
}

void LinkIndex::AddAt(std::size_t offset, std::size_t size) {
  if (size == 0) {
    distinct_of_.push_back(kNone);
    return;
  }
  const std::string_view link = std::string_view(*text_).substr(offset, size);
  Add(Span{text_, offset, size, Hash(link), HasLineBreak(link)});
}

void LinkIndex::Add(const Span& link) {
  const std::size_t before = distinct_.size();
  const std::uint32_t distinct = FindOrAddDistinct(link);
  distinct_of_.push_back(distinct);
  if (distinct_.size() == before) return;
  if (link.across_lines) {
    across_lines_.push_back(distinct);
    longest_across_ = std::max(longest_across_, link.size);
  } else {
    by_line_.push_back(distinct);
  }
}

void LinkIndex::AddFrom(const LinkIndex& other, std::size_t other_id) {
  const std::uint32_t distinct = other.distinct_of_[other_id];
  if (distinct == kNone) {
    distinct_of_.push_back(kNone);
    return;
  }
  Add(other.distinct_[distinct]);
}

void LinkIndex::Reserve(std::size_t links) {
  distinct_.reserve(links);
  distinct_of_.reserve(links);
  by_line_.reserve(links);
  if (by_hash_.entries.size() * 2 < links * 3) by_hash_.Reserve(links);
}

void LinkIndex::Finish() {
  const std::vector<std::uint32_t>& by_line = by_line_;
  if (by_line.empty()) return;
  shortest_ = distinct_[by_line.front()].size;
  for (const std::uint32_t distinct : by_line) shortest_ = std::min(shortest_, distinct_[distinct].size);
  window_ = std::min(shortest_, kMaxWindow);
  // With a one-byte link every byte is a candidate: shifts of 0.
  if (window_ >= kBlock) shift_.fill(static_cast<std::uint8_t>(window_ - kBlock + 1));
  windows_.Reserve(1);  // most links of a site share their beginning
  std::uint32_t group = kNone;
  for (const std::uint32_t distinct : by_line) {
    const std::string_view link = Distinct(distinct);
    const std::string_view window = link.substr(0, window_);
    // Links in page order mostly share their window with the one before.
    if (group != kNone && Distinct(groups_[group].example).substr(0, window_) == window) {
      auto& lengths = groups_[group].lengths;
      if (std::find(lengths.begin(), lengths.end(), link.size()) == lengths.end()) lengths.push_back(link.size());
      continue;
    }
    const std::uint32_t hash = Hash(window);
    group = kNone;
    windows_.ForEach(hash, [&](std::uint32_t g) {
      if (Distinct(groups_[g].example).substr(0, window_) == window) group = g;
    });
    if (group == kNone) {
      group = static_cast<std::uint32_t>(groups_.size());
      groups_.push_back(Group{distinct, {}});
      windows_.Insert(hash, group);
      for (std::size_t j = 0; window_ >= kBlock && j + kBlock <= window_; ++j) {
        auto& shift = shift_[BlockSlot(window.data() + j)];
        shift = std::min<std::uint8_t>(shift, static_cast<std::uint8_t>(window_ - kBlock - j));
      }
    }
    auto& lengths = groups_[group].lengths;
    if (std::find(lengths.begin(), lengths.end(), link.size()) == lengths.end()) lengths.push_back(link.size());
  }
}

LinkPresence::LinkPresence(const LinkIndex& index) : index_(index), present_(index.distinct_.size(), 0) {}

void LinkPresence::AddLines(const HistoryLines& lines) {
  if (!index_.across_lines_.empty()) {
    for (std::size_t i = 0; i < lines.size(); ++i) AddLine(lines[i]);
    return;
  }
  if (index_.window_ == 0) return;
  // Only the lines' sizes are read for the lines shorter than every link, most of a long log.
  const std::size_t shortest = index_.shortest_;
  const std::vector<std::size_t>& sizes = lines.Sizes();
  constexpr std::size_t kLinesAtOnce = 8;  // checked together, without a branch per line
  std::size_t i = 0;
  for (; i + kLinesAtOnce <= sizes.size(); i += kLinesAtOnce) {
    bool any = false;
    for (std::size_t k = 0; k < kLinesAtOnce; ++k) any |= sizes[i + k] >= shortest;
    if (!any) continue;
    for (std::size_t k = 0; k < kLinesAtOnce; ++k) {
      if (sizes[i + k] >= shortest) ScanLine(lines[i + k]);
    }
  }
  for (; i < sizes.size(); ++i) {
    if (sizes[i] >= shortest) ScanLine(lines[i]);
  }
}

void LinkPresence::AddLink(std::size_t link_id) {
  const std::uint32_t distinct = index_.distinct_of_[link_id];
  if (distinct == LinkIndex::kNone) return AddLine({});
  const std::string_view link = index_.Distinct(distinct);
  // A link occurs in itself; of the links looked for line by line, only shorter ones can occur in
  // it elsewhere.
  present_[distinct] = 1;
  if (index_.window_ != 0 && link.size() > index_.shortest_) ScanLine(link);
  if (!index_.across_lines_.empty()) AddToTail(link);
}

void LinkPresence::AddToTail(std::string_view line) {
  // A link that newly occurs ends in the added bytes, so it starts in the kept tail or after it.
  const std::size_t old_size = tail_.size();
  tail_.append(line);
  tail_ += "\r\n";
  for (const std::uint32_t distinct : index_.across_lines_) {
    const std::string_view link = index_.Distinct(distinct);
    if (present_[distinct]) continue;
    const std::size_t from = old_size >= link.size() ? old_size - link.size() + 1 : 0;
    if (tail_.find(link, from) != std::string::npos) present_[distinct] = 1;
  }
  const std::size_t keep = index_.longest_across_ - 1;
  if (tail_.size() > keep) tail_.erase(0, tail_.size() - keep);
}

void LinkPresence::ScanLine(std::string_view line) {
  const std::size_t size = line.size();
  const std::size_t window = index_.window_;
  const std::size_t last = size - index_.shortest_;  // no link starts after this
  const char* text = line.data();
  for (std::size_t pos = 0; pos <= last;) {
    if (window >= kBlock) {
      const std::uint8_t shift = index_.shift_[BlockSlot(text + pos + window - kBlock)];
      if (shift != 0) {
        pos += shift;
        continue;
      }
    }
    const std::string_view candidate = line.substr(pos, window);
    index_.windows_.ForEach(Hash(candidate), [&](std::uint32_t group) {
      if (index_.Distinct(index_.groups_[group].example).substr(0, window) == candidate) Verify(line, pos, group);
    });
    ++pos;
  }
}

// Which links of the window's group start at pos: one hash per distinct length, then the bytes.
void LinkPresence::Verify(std::string_view line, std::size_t pos, std::uint32_t group) {
  const std::string_view rest = line.substr(pos);
  for (const std::size_t length : index_.groups_[group].lengths) {
    if (length > rest.size()) continue;
    const std::string_view text = rest.substr(0, length);
    index_.by_hash_.ForEach(Hash(text), [&](std::uint32_t distinct) {
      if (index_.Distinct(distinct) == text) present_[distinct] = 1;
    });
  }
}

}  // namespace korinbo
