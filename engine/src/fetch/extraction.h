#pragma once
// The extraction's parts that the fetch and the tests share.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "korinbo/fetch.h"

namespace korinbo {

// Appends the headline's link: unchanged when it begins with "http://", else base URL + "/" + link.
void AppendResolvedLink(std::string& out, std::string_view link, std::string_view base_url);

// Pages from this size on are extracted by two threads, each finding and making the headlines of
// the pieces of the page that it takes.
inline constexpr std::size_t kTwoThreadExtractionBytes = 256 * 1024;

// ExtractHeadlines with the size from which two threads are used (tests give both paths the same
// page).
void ExtractHeadlines(std::string_view page, const SiteDefinition& site, std::string_view base_url,
                      HistoryLines& seen_log, const HistoryLines& visit_log,
                      HeadlineSink& sink, std::size_t two_threads_from_bytes);

}  // namespace korinbo
