// The extraction: headlines made from the matches of a site's pattern, and classified.
#include <algorithm>
#include <exception>
#include <optional>
#include <vector>

#include "korinbo/errors.h"
#include "korinbo/fetch.h"
#include "korinbo/pattern.h"
#include "korinbo/text.h"

namespace korinbo {
namespace {

// A page's address, the one it was read from after any redirects, as its links are resolved
// against it. It keeps views of the address, which must outlive it.
class PageAddress {
 public:
  explicit PageAddress(std::string_view address);

  // Appends the link made absolute: one that begins with "http://" or "https://" stays as it is;
  // one that begins with "//" gets the address's scheme and ":" in front, one that begins with "/"
  // its scheme and authority ("http://host:port"); any other the base URL and "/". An address
  // without "scheme://" gives every link the base URL.
  void AppendLink(std::string& out, std::string_view link) const;

 private:
  std::string_view scheme_;  // "http"
  std::string_view origin_;  // "http://host:port"; empty when the address has no "scheme://"
  std::string base_url_;
};

PageAddress::PageAddress(std::string_view address) : base_url_(BaseUrl(address)) {
  const std::size_t colon = address.find("://");
  if (colon == std::string_view::npos || colon == 0) return;
  scheme_ = address.substr(0, colon);
  origin_ = address.substr(0, address.find_first_of("/?#", colon + 3));
}

void PageAddress::AppendLink(std::string& out, std::string_view link) const {
  if (link.starts_with("http://") || link.starts_with("https://")) {
    // absolute already
  } else if (!origin_.empty() && link.starts_with("//")) {
    out.append(scheme_);
    out += ':';
  } else if (!origin_.empty() && link.starts_with('/')) {
    out.append(origin_);
  } else {
    out.append(base_url_);
    out += '/';
  }
  out.append(link);
}

// True when the pattern has no assertion (^ $ \A \Z \b \B) and no "(?" construct. Then its first
// match within a matched text alone is that same match: every path tried before it fails there as
// it failed in the page, since only an assertion can behave differently at the ends of the text.
bool MatchesAloneAsInThePage(std::string_view pattern) {
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const char c = pattern[i];
    if (c == '\\') {
      if (i + 1 < pattern.size() && std::string_view("bBAZ").find(pattern[i + 1]) != std::string_view::npos) return false;
      ++i;
    } else if (c == '^' || c == '$') {
      return false;
    } else if (c == '(' && i + 1 < pattern.size() && pattern[i + 1] == '?') {
      return false;
    } else if (c == '[') {
      std::size_t j = i + 1;
      if (j < pattern.size() && pattern[j] == '^') ++j;
      if (j < pattern.size() && pattern[j] == ']') ++j;
      while (j < pattern.size() && pattern[j] != ']') j += pattern[j] == '\\' ? 2u : 1u;
      i = j;
    }
  }
  return true;
}

// Where a made headline's fields lie in the maker's buffer, one after the other.
struct MadeHeadline {
  std::size_t caption = 0, remark = 0, link = 0, end = 0;
};

class HeadlineMaker {
 public:
  HeadlineMaker(const Pattern& pattern, const SiteDefinition& site, std::string_view page, const PageAddress& address)
      : pattern_(pattern),
        site_(site),
        page_(page),
        address_(address),
        same_match_alone_(MatchesAloneAsInThePage(site.anc_form)),
        caption_group_(SoleGroupReference(site.captions)),
        remark_group_(SoleGroupReference(site.remark)),
        link_group_(SoleGroupReference(site.jump_url)) {
    // The usual templates make less than the matched text: the buffer never grows.
    fields_.reserve(page.size());
  }

  // Throws PatternError, having made nothing, when the headline's own search fails.
  void Make(const PatternMatch& match) {
    const std::string_view whole = page_.substr(match.start(), match.end() - match.start());
    // Each template is expanded against the pattern's first match within the matched text alone
    // (never within an empty one, which no search matches). Where that is the page's match, its
    // groups already point at the same bytes of the page.
    std::optional<PatternMatch> inner;
    std::string_view subject = whole;
    const PatternMatch* expanded = nullptr;
    if (same_match_alone_) {
      subject = page_;
      if (!whole.empty()) expanded = &match;
    } else if ((inner = pattern_.Search(whole))) {
      expanded = &*inner;
    }
    // Templates that are one group reference, the usual ones, are the group's bytes of the page.
    auto expand = [&](std::string_view templ, const std::optional<unsigned long>& group) -> std::string_view {
      if (expanded == nullptr) return {};
      if (group) return GroupText(subject, *expanded, *group);
      scratch_.clear();
      AppendExpandedTemplate(scratch_, subject, *expanded, templ);
      return scratch_;
    };
    MadeHeadline& headline = made_.emplace_back();
    headline.caption = fields_.size();
    AppendStrippedTags(fields_, expand(site_.captions, caption_group_));
    DecodeCharacterReferences(fields_, headline.caption, References::kAll);
    headline.remark = fields_.size();
    AppendStrippedTags(fields_, expand(site_.remark, remark_group_));
    DecodeCharacterReferences(fields_, headline.remark, References::kAll);
    headline.link = fields_.size();
    std::string_view link = expand(site_.jump_url, link_group_);
    if (link.find('&') != std::string_view::npos) {
      link_ = link;
      DecodeCharacterReferences(link_, 0, References::kAscii);
      link = link_;
    }
    address_.AppendLink(fields_, link);
    headline.end = fields_.size();
  }

  const std::vector<MadeHeadline>& made() const { return made_; }
  std::string_view Field(std::size_t from, std::size_t to) const {
    return std::string_view(fields_).substr(from, to - from);
  }
  std::string_view Link(std::size_t i) const { return Field(made_[i].link, made_[i].end); }

 private:
  const Pattern& pattern_;
  const SiteDefinition& site_;
  std::string_view page_;
  const PageAddress& address_;
  bool same_match_alone_;
  std::optional<unsigned long> caption_group_, remark_group_, link_group_;
  std::vector<MadeHeadline> made_;
  std::string fields_;   // every made headline's fields
  std::string scratch_;  // a template's expansion, before its tags are stripped
  std::string link_;     // a link with its references decoded
};

}  // namespace

std::string ResolveLink(std::string_view link, std::string_view address) {
  std::string resolved;
  PageAddress(address).AppendLink(resolved, link);
  return resolved;
}

void ExtractHeadlines(std::string_view page, const SiteDefinition& site, std::string_view address,
                      HistoryLines& seen_log, const IndexedLines& visit_log, HeadlineSink& sink) {
  // First every headline is made, then classified. A pattern error part-way stops the making; the
  // rows before it still reach the sink, and a headline whose own search failed is counted only.
  const PageAddress page_address(address);
  std::optional<Pattern> pattern;
  std::optional<HeadlineMaker> maker;
  std::size_t matches = 0;
  std::exception_ptr failure;
  try {
    pattern.emplace(site.anc_form);
    maker.emplace(*pattern, site, page, page_address);
    pattern->ForEachMatch(page, [&](const PatternMatch& match) {
      ++matches;
      sink.MatchFound(match);
      maker->Make(match);
    });
  } catch (const PatternError&) {
    failure = std::current_exception();
  }
  const std::size_t made = maker ? maker->made().size() : 0;

  LineSet seen;
  if (made > 0) {
    seen.Reserve(seen_log.size() + made);
    for (std::size_t i = 0; i < seen_log.size(); ++i) seen.Insert(seen_log[i]);
  }
  std::vector<int> icons(made, kIconUnread);
  std::vector<std::size_t> new_links;
  std::size_t new_bytes = 0;
  for (std::size_t i = 0; i < made; ++i) {
    const std::string_view link = maker->Link(i);
    // A new link goes into the set, where later headlines of this fetch find it as a line.
    if (seen.Insert(link)) {
      icons[i] = kIconNew;
      new_links.push_back(i);
      new_bytes += link.size();
    }
    if (visit_log.Contains(link)) icons[i] = kIconRead;
  }
  // Only now: the set holds views of the log's lines, which appending may move.
  seen_log.Reserve(new_links.size(), new_bytes);
  for (const std::size_t i : new_links) seen_log.Append(maker->Link(i));

  for (std::size_t i = 0; i < made; ++i) {
    const MadeHeadline& headline = maker->made()[i];
    sink.BeginHeadline();
    const int row = sink.AppendRow(maker->Field(headline.caption, headline.remark));
    sink.SetRemark(row, maker->Field(headline.remark, headline.link));
    sink.SetIcon(row, icons[i]);
    sink.SetLink(row, maker->Link(i));
  }
  if (matches > made) sink.BeginHeadline();
  if (failure) std::rethrow_exception(failure);
}

}  // namespace korinbo
