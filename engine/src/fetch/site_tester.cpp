#include "korinbo/site_tester.h"

#include <utility>

#include "korinbo/errors.h"

namespace korinbo {
namespace {

// Keeps the rows and the matches that made them.
class TestSink : public HeadlineSink {
 public:
  TestSink(SiteTest& test, std::size_t page_offset) : test_(test), page_offset_(page_offset) {}

  void MatchFound(const PatternMatch& match) override {
    PatternMatch& in_page = test_.matches.emplace_back(match);
    for (MatchSpan& span : in_page.groups) {
      if (!span.matched()) continue;
      span.start += static_cast<std::ptrdiff_t>(page_offset_);
      span.end += static_cast<std::ptrdiff_t>(page_offset_);
    }
  }
  int AppendRow(std::string_view caption) override {
    test_.rows.push_back(HeadlineRow{std::string(caption), {}, {}, kIconNew});
    return static_cast<int>(test_.rows.size()) - 1;
  }
  void SetRemark(int row, std::string_view remark) override { Row(row).remark = remark; }
  void SetIcon(int row, int icon) override { Row(row).icon = icon; }
  void SetLink(int row, std::string_view link) override { Row(row).link = link; }

 private:
  HeadlineRow& Row(int row) { return test_.rows[static_cast<std::size_t>(row)]; }

  SiteTest& test_;
  std::size_t page_offset_;
};

}  // namespace

SiteTester::SiteTester(std::string body, std::string address, HistoryLines seen_log, HistoryLines visit_log)
    : body_(std::move(body)),
      address_(std::move(address)),
      seen_log_(std::move(seen_log)),
      visit_log_(std::move(visit_log)) {}

SiteTest SiteTester::Run(const SiteDefinition& site) {
  if (!page_ || encode_ != site.encode) {
    page_ = std::make_shared<const std::string>(PageAsFetched(body_, site.encode));
    encode_ = site.encode;
  }
  SiteTest test;
  test.page = page_;
  test.area = FindHeadlineArea(*page_, site.str_start, site.str_end);
  const std::string_view cut =
      std::string_view(*page_).substr(test.area.begin, test.area.end - test.area.begin);
  // The fetch's seen log gains the new links; this one is thrown away.
  HistoryLines seen_log = seen_log_;
  TestSink sink(test, test.area.begin);
  try {
    ExtractHeadlines(cut, site, address_, seen_log, visit_log_, sink);
  } catch (const PatternError& error) {
    test.error = error.what();
    test.error_offset = error.offset();
  }
  return test;
}

}  // namespace korinbo
