#pragma once
// Presence of a fetch's links in a history text, in time linear in the text plus the links.
//
// A link is present when it occurs anywhere in the joined text of a history list. Testing each
// link with a substring search costs the log's size per headline; instead one automaton of all
// the fetch's links is run once over the log, and text appended later (the seen log's new lines)
// is streamed through the same automaton, so presence stays exact as the log grows.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace korinbo {

class LinkPresence {
 public:
  // links: the texts to look for; their index is their id. Empty links are never present.
  explicit LinkPresence(const std::vector<std::string>& links);

  // Feeds more of the history text; every link that ends inside the text fed so far is present.
  void Feed(std::string_view text);
  bool Present(std::size_t link_id) const { return present_[link_id] != 0; }

 private:
  struct Node {
    std::vector<std::pair<unsigned char, int>> next;  // sorted by byte
    int fail = 0;
    int dictionary = -1;  // nearest node on the fail chain that ends a link
    std::vector<int> ends;  // ids of the links ending here
    bool reported = false;
  };
  int Child(int node, unsigned char byte) const;
  void Report(int node);

  std::vector<Node> nodes_;
  std::vector<int> root_next_;  // dense table for the root
  std::vector<char> present_;
  int state_ = 0;
};

}  // namespace korinbo
