#include "korinbo/text.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

namespace korinbo {

std::string ReplaceAll(std::string_view text, std::string_view old_text, std::string_view new_text) {
  if (old_text.empty()) return std::string(text);
  std::string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  for (std::size_t hit = text.find(old_text); hit != std::string_view::npos; hit = text.find(old_text, pos)) {
    out.append(text.substr(pos, hit - pos));
    out.append(new_text);
    pos = hit + old_text.size();
  }
  out.append(text.substr(pos));
  return out;
}

namespace {

// Drops every CR and LF byte of out[from...].
void EraseLineBreaks(std::string& out, std::size_t from) {
  const std::string_view current = std::string_view(out).substr(from);
  if (current.find('\r') == std::string_view::npos && current.find('\n') == std::string_view::npos) return;
  const auto kept = std::remove_if(out.begin() + static_cast<std::ptrdiff_t>(from), out.end(),
                                   [](char c) { return c == '\r' || c == '\n'; });
  out.erase(kept, out.end());
}

// Removes every occurrence of `tag` from out[from...], as ReplaceAll with an empty text does.
void EraseAll(std::string& out, std::size_t from, std::string_view tag) {
  const std::string_view current(out.data() + from, out.size() - from);
  std::size_t hit = current.find(tag);
  if (hit == std::string_view::npos) return;
  char* bytes = out.data() + from;
  std::size_t write = hit;
  std::size_t read = hit + tag.size();
  // Bytes are only ever moved down to before `read`, so the search ahead sees the current text.
  for (hit = current.find(tag, read); hit != std::string_view::npos; hit = current.find(tag, read)) {
    std::memmove(bytes + write, bytes + read, hit - read);
    write += hit - read;
    read = hit + tag.size();
  }
  std::memmove(bytes + write, bytes + read, current.size() - read);
  write += current.size() - read;
  out.resize(from + write);
}

// Each tag is "<" up to the first ">" after it, found in the text before its first NUL; the next
// search starts after the ">".
void FindTags(std::string_view text, std::vector<std::string_view>& tags) {
  tags.clear();
  const std::size_t nul = text.find('\0');
  const std::string_view searched = text.substr(0, nul);
  std::size_t pos = 0;
  while (pos < searched.size()) {
    const std::size_t open = searched.find('<', pos);
    if (open == std::string_view::npos) break;
    const std::size_t close = searched.find('>', open + 1);
    if (close == std::string_view::npos) break;
    tags.push_back(searched.substr(open, close - open + 1));
    pos = close + 1;
  }
}

// Removing every occurrence of each tag from the current result, one tag after the other, costs a
// pass over the whole result per tag; a long caption with many different tags would take minutes.
// This gives the same result in about linear time.
//
// A tag holds ">" only as its last byte, so in the current result an occurrence of a tag always ends
// at a ">" and lies within one "chunk" (the bytes after the previous ">" up to and including this
// one): the tag occurs exactly where it is a suffix of a chunk. Removing it merges the rest of that
// chunk into the next one. Chunks are indexed by their suffix from their last "<", which any tag
// that ends the chunk shares. The result is the input with bytes deleted, kept as a linked list.
class TagRemover {
 public:
  explicit TagRemover(std::string_view text) : s_(text) {
    const auto size = static_cast<std::uint32_t>(s_.size());
    head_ = size;
    next_.resize(size + 1);
    prev_.resize(size + 1);
    for (std::uint32_t i = 0; i <= size; ++i) {
      next_[i] = i == size ? 0 : i + 1;
      prev_[i] = i == 0 ? size : i - 1;
    }
    for (std::uint32_t i = 0; i < size; ++i) {
      if (s_[i] != '>') continue;
      chunks_.push_back(Chunk{i, i});
      Index(static_cast<std::uint32_t>(chunks_.size() - 1));
    }
    tail_ = static_cast<std::uint32_t>(chunks_.size());
    chunks_.push_back(Chunk{head_, head_});  // the bytes after the last ">" never end a tag
    for (std::uint32_t c = 0; c < chunks_.size(); ++c) {
      chunks_[c].prev = c == 0 ? kNone : c - 1;
      chunks_[c].next = c + 1 == chunks_.size() ? kNone : c + 1;
    }
  }

  void Remove(std::string_view tag) {
    const std::string_view key = tag.substr(tag.rfind('<'));
    const auto found = index_.find(std::string(key));
    if (found == index_.end()) return;
    std::vector<std::uint32_t>& candidates = found->second;
    // Occurrences are those of the result before this removal: find them all first.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> hits;  // chunk, first byte of the occurrence
    std::size_t kept = 0;
    for (const std::uint32_t c : candidates) {
      if (!chunks_[c].alive) continue;
      candidates[kept++] = c;
      if (const auto first = SuffixStart(chunks_[c].end, tag)) hits.emplace_back(c, *first);
    }
    candidates.resize(kept);
    for (const auto& [c, first] : hits) {
      Unlink(first, chunks_[c].end);
      chunks_[c].alive = false;
      const std::uint32_t before = chunks_[c].prev;
      const std::uint32_t after = chunks_[c].next;
      if (before != kNone) chunks_[before].next = after;
      chunks_[after].prev = before;
    }
    for (const auto& hit : hits) {
      std::uint32_t c = hit.first;
      while (!chunks_[c].alive) c = chunks_[c].next;  // the tail is always alive
      if (c != tail_ && !chunks_[c].keyed) Index(c);
    }
  }

  std::string Result() const {
    std::string out;
    out.reserve(s_.size());
    for (std::uint32_t i = next_[head_]; i != head_; i = next_[i]) {
      if (s_[i] != '\r' && s_[i] != '\n') out += s_[i];
    }
    return out;
  }

 private:
  static constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();

  struct Chunk {
    std::uint32_t end;  // its ">"; for the tail, the list head
    // The chunk's bytes from here up to its ">" are known to hold no "<" (chunks without a key).
    std::uint32_t plain_from;
    std::uint32_t prev = kNone;
    std::uint32_t next = kNone;
    bool alive = true;
    bool keyed = false;
  };

  // Looks for the last "<" of a chunk without a key and, when there is one, files the chunk under
  // its suffix from there. Every byte is looked at a bounded number of times: a chunk's bytes past
  // `plain_from` are skipped, and a keyed chunk loses its whole key when a tag is removed from it.
  void Index(std::uint32_t c) {
    Chunk& chunk = chunks_[c];
    std::uint32_t i = prev_[chunk.plain_from];
    for (; i != head_ && s_[i] != '<' && s_[i] != '>'; i = prev_[i]) chunk.plain_from = i;
    if (i == head_ || s_[i] != '<') return;
    std::string key;
    for (std::uint32_t j = i;; j = next_[j]) {
      key += s_[j];
      if (j == chunk.end) break;
    }
    chunk.keyed = true;
    index_[std::move(key)].push_back(c);
  }

  // Where `tag` starts when the chunk ending at `end` ends with it.
  std::optional<std::uint32_t> SuffixStart(std::uint32_t end, std::string_view tag) const {
    std::uint32_t i = end;
    for (std::size_t k = tag.size(); k-- > 0;) {
      if (i == head_ || s_[i] != tag[k]) return std::nullopt;
      if (k == 0) return i;
      i = prev_[i];
    }
    return std::nullopt;
  }

  void Unlink(std::uint32_t first, std::uint32_t last) {
    const std::uint32_t before = prev_[first];
    const std::uint32_t after = next_[last];
    next_[before] = after;
    prev_[after] = before;
  }

  std::string_view s_;
  std::uint32_t head_ = 0;  // list sentinel, one past the last byte
  std::uint32_t tail_ = 0;
  std::vector<std::uint32_t> next_;
  std::vector<std::uint32_t> prev_;
  std::vector<Chunk> chunks_;
  std::unordered_map<std::string, std::vector<std::uint32_t>> index_;
};

}  // namespace

namespace {

enum : unsigned char { kPlain, kOpen, kClose, kNul, kLineBreak };

constexpr auto kByteKind = [] {
  std::array<unsigned char, 256> kind{};
  kind['<'] = kOpen;
  kind['>'] = kClose;
  kind['\0'] = kNul;
  kind['\r'] = kLineBreak;
  kind['\n'] = kLineBreak;
  return kind;
}();

constexpr std::size_t kBlock = 16;

// Bit i set where byte i of the 16 is one that tag stripping looks at.
std::uint32_t SpecialBytes(const char* at) {
#if defined(__SSE2__) || defined(_M_X64)
  const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
  __m128i hits = _mm_cmpeq_epi8(block, _mm_set1_epi8('<'));
  hits = _mm_or_si128(hits, _mm_cmpeq_epi8(block, _mm_set1_epi8('>')));
  hits = _mm_or_si128(hits, _mm_cmpeq_epi8(block, _mm_setzero_si128()));
  hits = _mm_or_si128(hits, _mm_cmpeq_epi8(block, _mm_set1_epi8('\r')));
  hits = _mm_or_si128(hits, _mm_cmpeq_epi8(block, _mm_set1_epi8('\n')));
  return static_cast<std::uint32_t>(_mm_movemask_epi8(hits));
#else
  std::uint32_t mask = 0;
  for (std::size_t i = 0; i < kBlock; ++i) {
    if (kByteKind[static_cast<unsigned char>(at[i])] != kPlain) mask |= 1u << i;
  }
  return mask;
#endif
}

// The usual caption: no NUL, and no tag holds a second "<". Then every tag's text occurs only where
// a tag was found, removing tags makes no new ones, and the result is the text without the tags'
// bytes and line breaks, made in one pass. Returns false, having appended nothing, otherwise.
bool AppendWithoutSimpleTags(std::string& out, std::string_view text) {
  const std::size_t from = out.size();
  const char* bytes = text.data();
  const std::size_t size = text.size();
  std::size_t kept_from = 0;  // start of the bytes not yet appended
  std::size_t tag = std::string_view::npos;  // the open tag's "<"
  // False where the text is not the usual caption.
  auto at_special = [&](std::size_t i, unsigned char kind) {
    if (kind == kNul || (kind == kOpen && tag != std::string_view::npos)) return false;
    if (tag != std::string_view::npos) {
      if (kind == kClose) {
        tag = std::string_view::npos;
        kept_from = i + 1;
      }
      return true;
    }
    if (kind == kClose) return true;
    out.append(bytes + kept_from, i - kept_from);
    if (kind == kOpen) tag = i;
    kept_from = i + 1;
    return true;
  };
  std::size_t i = 0;
  for (; i + kBlock <= size; i += kBlock) {
    for (std::uint32_t mask = SpecialBytes(bytes + i); mask != 0; mask &= mask - 1) {
      const std::size_t at = i + static_cast<std::size_t>(std::countr_zero(mask));
      if (!at_special(at, kByteKind[static_cast<unsigned char>(bytes[at])])) {
        out.resize(from);
        return false;
      }
    }
  }
  for (; i < size; ++i) {
    const unsigned char kind = kByteKind[static_cast<unsigned char>(bytes[i])];
    if (kind != kPlain && !at_special(i, kind)) {
      out.resize(from);
      return false;
    }
  }
  if (tag == std::string_view::npos) {
    out.append(bytes + kept_from, size - kept_from);
  } else {  // an unclosed "<" is no tag: the rest is kept, but for its line breaks
    const std::size_t tail = out.size();
    out.append(bytes + tag, size - tag);
    EraseLineBreaks(out, tail);
  }
  return true;
}

}  // namespace

void AppendStrippedTags(std::string& out, std::string_view text) {
  if (AppendWithoutSimpleTags(out, text)) return;
  thread_local std::vector<std::string_view> tags;  // reused: captions are stripped by the thousand
  FindTags(text, tags);
  const std::size_t from = out.size();
  // A caption with a few tags: one pass per tag is cheaper than building the index.
  constexpr std::size_t kDirectWork = 4096;
  if (tags.size() * text.size() <= kDirectWork ||
      text.size() >= std::numeric_limits<std::uint32_t>::max() - 1) {
    out.append(text);
    for (const std::string_view tag : tags) EraseAll(out, from, tag);
    EraseLineBreaks(out, from);
    return;
  }
  TagRemover remover(text);
  for (const std::string_view tag : tags) remover.Remove(tag);
  out.append(remover.Result());
}

std::string StripTags(std::string_view text) {
  std::string stripped;
  AppendStrippedTags(stripped, text);
  return stripped;
}

std::string LeftBytes(std::string_view text, long long n) {
  if (n <= 0) return std::string();
  if (static_cast<unsigned long long>(n) >= text.size()) return std::string(text);
  return std::string(text.substr(0, static_cast<std::size_t>(n)));
}

std::string RightBytes(std::string_view text, long long n) {
  if (n <= 0) return std::string();
  if (static_cast<unsigned long long>(n) >= text.size()) return std::string(text);
  return std::string(text.substr(text.size() - static_cast<std::size_t>(n)));
}

std::string ReverseBytes(std::string_view text) { return std::string(text.rbegin(), text.rend()); }

}  // namespace korinbo
