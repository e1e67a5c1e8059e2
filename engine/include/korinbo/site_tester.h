#pragma once
// What a fetch would make of a page it has downloaded, without another download and without
// writing any file: the site definition editor runs it again on every change of a definition.
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "korinbo/fetch.h"
#include "korinbo/history.h"
#include "korinbo/pattern.h"
#include "korinbo/site_definition.h"

namespace korinbo {

struct SiteTest {
  // The page as the fetch searches it before the cut (line ends and encode applied); the spans below
  // are byte offsets into it.
  std::shared_ptr<const std::string> page;
  HeadlineArea area;
  std::vector<HeadlineRow> rows;
  // matches[i] made rows[i]; after a pattern error there may be one match more than rows.
  std::vector<PatternMatch> matches;
  // The pattern error that ended the extraction, and where in `anc_form` it lies when it lies at one
  // place.
  std::optional<std::string> error;
  std::optional<std::size_t> error_offset;
};

class SiteTester {
 public:
  // The page's bytes as downloaded, the address it was read from (after redirects), and the seen
  // and visit logs that its headlines are classified against.
  SiteTester(std::string body, std::string address, HistoryLines seen_log, HistoryLines visit_log);

  // The fetch's steps after the download, on the kept page. One thread at a time.
  SiteTest Run(const SiteDefinition& site);

  const std::string& body() const { return body_; }
  const std::string& address() const { return address_; }

 private:
  std::string body_;
  std::string address_;
  HistoryLines seen_log_;
  IndexedLines visit_log_;  // its set built once for every run
  // The last converted page, kept while the encode value stays.
  std::string encode_;
  std::shared_ptr<const std::string> page_;
};

}  // namespace korinbo
