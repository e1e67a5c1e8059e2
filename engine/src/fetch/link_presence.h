#pragma once
// Presence of a fetch's links in a history list, in time that grows with the size of the list
// plus the size of the links, not with their product.
//
// A link is present when it occurs anywhere in the list's joined text (every line followed by
// CR LF). A link without CR or LF cannot reach across a line end, so those links are looked for
// line by line, all at once: a skip table over the links' common window length jumps over most of
// each line (most lines of a long visit log share nothing with this fetch's links), and where a
// window matches, the candidates are told apart by hashes of their full length. Links holding a
// CR or LF, which only odd templates make, are searched for in the joined text itself.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace korinbo {

class LinkPresence {
 public:
  // links: the texts to look for, which must outlive this; their index is their id. Empty links
  // are never present.
  explicit LinkPresence(const std::vector<std::string>& links);

  // Adds one line of the history list (its CR LF is implied).
  void AddLine(std::string_view line);
  bool Present(std::size_t link_id) const { return present_[link_id] != 0; }

 private:
  static constexpr std::size_t kBlock = 2;
  static constexpr std::size_t kMaxWindow = 32;

  // The links that begin with one window, by the hash of their whole text.
  struct Candidates {
    std::vector<std::size_t> lengths;  // distinct
    std::vector<std::pair<std::uint64_t, std::size_t>> ids_by_hash;  // sorted
  };
  void ScanLine(std::string_view line);
  void Verify(std::string_view line, std::size_t pos, const Candidates& candidates);

  const std::vector<std::string>& links_;
  std::vector<char> present_;
  std::size_t window_ = 0;  // 0: no link is looked for line by line
  std::array<std::uint8_t, 65536> shift_{};
  std::unordered_map<std::string_view, Candidates> by_window_;  // views into links_
  std::vector<std::size_t> across_lines_;  // ids of links holding CR or LF
  std::string joined_;  // the joined text, kept only for those
};

}  // namespace korinbo
