#include "fetch/link_presence.h"

#include <algorithm>
#include <deque>

namespace korinbo {

LinkPresence::LinkPresence(const std::vector<std::string>& links)
    : nodes_(1), root_next_(256, 0), present_(links.size(), 0) {
  for (std::size_t id = 0; id < links.size(); ++id) {
    if (links[id].empty()) continue;
    int node = 0;
    for (char c : links[id]) {
      const auto byte = static_cast<unsigned char>(c);
      int child = Child(node, byte);
      if (child <= 0) {
        child = static_cast<int>(nodes_.size());
        nodes_.emplace_back();
        auto& next = nodes_[static_cast<std::size_t>(node)].next;
        next.insert(std::lower_bound(next.begin(), next.end(), std::pair<unsigned char, int>{byte, 0}),
                    {byte, child});
        if (node == 0) root_next_[byte] = child;
      }
      node = child;
    }
    nodes_[static_cast<std::size_t>(node)].ends.push_back(static_cast<int>(id));
  }
  // Breadth first: each node's fail link is the longest proper suffix that is also a prefix.
  std::deque<int> queue;
  for (const auto& [byte, child] : nodes_[0].next) queue.push_back(child);
  while (!queue.empty()) {
    const int node = queue.front();
    queue.pop_front();
    for (const auto& [byte, child] : nodes_[static_cast<std::size_t>(node)].next) {
      int fail = nodes_[static_cast<std::size_t>(node)].fail;
      while (fail != 0 && Child(fail, byte) < 0) fail = nodes_[static_cast<std::size_t>(fail)].fail;
      int target = Child(fail, byte);
      if (target < 0 || target == child) target = 0;
      auto& c = nodes_[static_cast<std::size_t>(child)];
      c.fail = target;
      const auto& t = nodes_[static_cast<std::size_t>(target)];
      c.dictionary = t.ends.empty() ? t.dictionary : target;
      queue.push_back(child);
    }
  }
}

// The child of node on byte, -1 when there is none (the root answers 0 for "stay").
int LinkPresence::Child(int node, unsigned char byte) const {
  if (node == 0) return root_next_.empty() ? -1 : root_next_[byte];
  const auto& next = nodes_[static_cast<std::size_t>(node)].next;
  const auto it = std::lower_bound(next.begin(), next.end(), std::pair<unsigned char, int>{byte, 0});
  return it != next.end() && it->first == byte ? it->second : -1;
}

void LinkPresence::Feed(std::string_view text) {
  if (nodes_.size() == 1) return;
  int state = state_;
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    int next = Child(state, byte);
    while (next < 0) {
      state = nodes_[static_cast<std::size_t>(state)].fail;
      next = Child(state, byte);
    }
    state = next;
    if (state != 0) Report(state);
  }
  state_ = state;
}

// Marks every link ending at node; a node reported once has had its whole chain reported, so the
// walk stops there and the total work stays linear.
void LinkPresence::Report(int node) {
  while (node > 0 && !nodes_[static_cast<std::size_t>(node)].reported) {
    auto& n = nodes_[static_cast<std::size_t>(node)];
    n.reported = true;
    for (int id : n.ends) present_[static_cast<std::size_t>(id)] = 1;
    node = n.dictionary;
  }
}

}  // namespace korinbo
