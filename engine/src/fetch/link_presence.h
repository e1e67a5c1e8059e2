#pragma once
// Presence of a fetch's links in a history list, in time that grows with the size of the list
// plus the size of the links, not with their product.
//
// A link is present when it occurs anywhere in the list's joined text (every line followed by
// CR LF). A link without CR or LF cannot reach across a line end, so those links are looked for
// line by line, all at once: a skip table over the links' common window length jumps over most of
// each line (most lines of a long visit log share nothing with this fetch's links), and where a
// window matches, the candidates are told apart by hashes of their full length. Links holding a
// CR or LF, which only odd templates make, are searched for in the end of the joined text.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "korinbo/history.h"

namespace korinbo {

// What the lists are searched for, built once per fetch and shared by the lists' presences.
class LinkIndex {
 public:
  // The texts to look for are added one by one; the order they are added in is their id. Empty
  // links are never present. Presences are made after Finish.
  //
  // Either the links lie in a text of the caller's, which may grow while they are added but must
  // keep their bytes and outlive this, or they are added as copies.
  explicit LinkIndex(const std::string& text) : text_(&text) {}
  explicit LinkIndex(const std::vector<std::string_view>& links);  // copies of all, then Finish
  LinkIndex(const LinkIndex&) = delete;
  LinkIndex& operator=(const LinkIndex&) = delete;
  void AddAt(std::size_t offset, std::size_t size);  // a link in the caller's text
  // Adds the other index's link where it lies, which must outlive this; its hash is not computed
  // again.
  void AddFrom(const LinkIndex& other, std::size_t other_id);
  // Room for this many links in all.
  void Reserve(std::size_t links);
  void Finish();

 private:
  friend class LinkPresence;
  static constexpr std::uint32_t kNone = 0xffffffffu;
  static constexpr std::size_t kMaxWindow = 32;
  static constexpr std::size_t kShiftBits = 12;  // a table that stays in the first-level cache

  // An open-addressing table from a hash to a number; several entries may share a hash.
  // Entries keep 32 bits of the hash, so that a table for thousands of links stays in the
  // second-level cache.
  struct HashTable {
    struct Entry {
      std::uint32_t hash;
      std::uint32_t value;  // kNone: free
    };
    void Reserve(std::size_t count);
    void Insert(std::uint32_t hash, std::uint32_t value);
    // The value of an entry with the hash for which `equal` holds, else `value` newly inserted.
    template <typename Equal>
    std::uint32_t FindOrInsert(std::uint32_t hash, std::uint32_t value, Equal&& equal);
    template <typename Visit>
    void ForEach(std::uint32_t hash, Visit&& visit) const;
    std::vector<Entry> entries;
    std::size_t mask = 0;
    std::size_t used = 0;
  };

  struct Span {
    const std::string* text;  // where the link lies
    std::size_t offset, size;
    std::uint32_t hash;
    bool across_lines;  // holds CR or LF
  };
  void Add(const Span& link);
  std::uint32_t FindOrAddDistinct(const Span& link);
  std::string_view Distinct(std::uint32_t distinct) const {
    const Span& span = distinct_[distinct];
    return std::string_view(*span.text).substr(span.offset, span.size);
  }

  std::string copies_;                 // the links added as copies, one after the other
  const std::string* text_ = &copies_; // where the links added by AddAt lie
  std::vector<Span> distinct_;         // the different non-empty links
  std::vector<std::uint32_t> distinct_of_;   // by link id; kNone for an empty link
  HashTable by_hash_;                        // distinct links by the hash of their text
  std::vector<std::uint32_t> by_line_;       // distinct links without CR or LF
  std::vector<std::uint32_t> across_lines_;  // distinct links holding CR or LF
  std::size_t longest_across_ = 0;

  // Line by line: every link is at least `shortest_` long and starts with a window of `window_`.
  std::size_t window_ = 0;  // 0: no link is looked for line by line
  std::size_t shortest_ = 0;
  std::array<std::uint8_t, std::size_t{1} << kShiftBits> shift_{};
  // The links that start with one window.
  struct Group {
    std::uint32_t example;             // a distinct link of the group, for its window
    std::vector<std::size_t> lengths;  // the different lengths of the group's links
  };
  HashTable windows_;  // window hash -> group
  std::vector<Group> groups_;
};

class LinkPresence {
 public:
  explicit LinkPresence(const LinkIndex& index);

  // Adds one line of the history list (its CR LF is implied). Most lines of a long log are
  // shorter than every link: they cost a comparison here.
  void AddLine(std::string_view line) {
    if (index_.window_ != 0 && line.size() >= index_.shortest_) ScanLine(line);
    if (!index_.across_lines_.empty()) AddToTail(line);
  }
  // AddLine for each of the lines, in order.
  void AddLines(const HistoryLines& lines);

  // Adds one of the links as a line, as AddLine(link) does.
  void AddLink(std::size_t link_id);
  bool Present(std::size_t link_id) const {
    const std::uint32_t distinct = index_.distinct_of_[link_id];
    return distinct != LinkIndex::kNone && present_[distinct] != 0;
  }

 private:
  void ScanLine(std::string_view line);  // a line at least as long as the shortest link
  void AddToTail(std::string_view line);
  void Verify(std::string_view line, std::size_t pos, std::uint32_t group);

  const LinkIndex& index_;
  std::vector<char> present_;  // by distinct link
  std::string tail_;  // the end of the joined text that a link holding CR or LF may still reach into
};

}  // namespace korinbo
