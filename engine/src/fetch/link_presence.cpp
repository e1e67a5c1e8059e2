#include "fetch/link_presence.h"

#include <algorithm>

namespace korinbo {
namespace {

std::uint64_t Hash(std::string_view text) {
  std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (char c : text) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  return hash;
}

std::size_t Block(const char* at) {
  return static_cast<std::size_t>(static_cast<unsigned char>(at[0])) << 8 | static_cast<unsigned char>(at[1]);
}

}  // namespace

LinkPresence::LinkPresence(const std::vector<std::string>& links) : links_(links), present_(links.size(), 0) {
  std::size_t shortest = kMaxWindow;
  std::vector<std::size_t> by_line;
  for (std::size_t id = 0; id < links.size(); ++id) {
    const std::string& link = links[id];
    if (link.empty()) continue;
    if (link.find_first_of("\r\n") != std::string::npos) {
      across_lines_.push_back(id);
    } else {
      by_line.push_back(id);
      shortest = std::min(shortest, link.size());
    }
  }
  if (by_line.empty()) return;
  if (shortest < kBlock) {
    // A one-byte link: every byte is a candidate.
    window_ = 1;
  } else {
    window_ = shortest;
    shift_.fill(static_cast<std::uint8_t>(window_ - kBlock + 1));
  }
  for (std::size_t id : by_line) {
    const std::string_view link = links[id];
    const std::string_view window = link.substr(0, window_);
    auto& candidates = by_window_[window];
    if (candidates.lengths.empty() && window_ >= kBlock) {
      for (std::size_t j = 0; j + kBlock <= window_; ++j) {
        auto& shift = shift_[Block(window.data() + j)];
        shift = std::min<std::uint8_t>(shift, static_cast<std::uint8_t>(window_ - kBlock - j));
      }
    }
    if (std::find(candidates.lengths.begin(), candidates.lengths.end(), link.size()) == candidates.lengths.end()) {
      candidates.lengths.push_back(link.size());
    }
    candidates.ids_by_hash.emplace_back(Hash(link), id);
  }
  for (auto& [window, candidates] : by_window_) std::sort(candidates.ids_by_hash.begin(), candidates.ids_by_hash.end());
}

void LinkPresence::AddLine(std::string_view line) {
  if (window_ != 0) ScanLine(line);
  if (across_lines_.empty()) return;
  joined_.append(line);
  joined_ += "\r\n";
  for (std::size_t id : across_lines_) {
    if (!present_[id] && joined_.find(links_[id]) != std::string::npos) present_[id] = 1;
  }
}

void LinkPresence::ScanLine(std::string_view line) {
  const std::size_t size = line.size();
  if (size < window_) return;
  const char* text = line.data();
  std::size_t pos = 0;
  if (window_ < kBlock) {
    for (; pos < size; ++pos) {
      const auto it = by_window_.find(line.substr(pos, 1));
      if (it != by_window_.end()) Verify(line, pos, it->second);
    }
    return;
  }
  while (pos + window_ <= size) {
    const std::uint8_t shift = shift_[Block(text + pos + window_ - kBlock)];
    if (shift != 0) {
      pos += shift;
      continue;
    }
    const auto it = by_window_.find(line.substr(pos, window_));
    if (it != by_window_.end()) Verify(line, pos, it->second);
    ++pos;
  }
}

// Which links sharing this window start at pos: one hash per distinct length, then the bytes.
void LinkPresence::Verify(std::string_view line, std::size_t pos, const Candidates& candidates) {
  const std::string_view rest = line.substr(pos);
  for (std::size_t length : candidates.lengths) {
    if (length > rest.size()) continue;
    const std::string_view text = rest.substr(0, length);
    const std::uint64_t hash = Hash(text);
    const auto& ids = candidates.ids_by_hash;
    for (auto it = std::lower_bound(ids.begin(), ids.end(), std::pair<std::uint64_t, std::size_t>{hash, 0});
         it != ids.end() && it->first == hash; ++it) {
      if (text == links_[it->second]) present_[it->second] = 1;
    }
  }
}

}  // namespace korinbo
