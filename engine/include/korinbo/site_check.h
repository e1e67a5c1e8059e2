#pragma once
// The background check: for each site, the fetch's steps from reading its definition to classifying
// its headlines, with every download at once, and nothing written and nothing shown. The window's
// check and `korinbo-fetch check` both run it.
#include <filesystem>
#include <string>
#include <vector>

#include "korinbo/download.h"
#include "korinbo/site_health.h"

namespace korinbo {

// One SiteCheck per file name, in order. `stop` is asked again and again while downloads are
// awaited; once it says true every download ends and the sites not yet done end as stopped.
// Throws FileError when a history file cannot be read.
std::vector<SiteCheck> CheckSites(const std::filesystem::path& start_dir, const std::vector<std::string>& file_names,
                                  const DownloadOptions& options, Downloader& downloader,
                                  const WhileWaiting& stop = {});

}  // namespace korinbo
