#pragma once
// The history files in the start directory: the seen log, the visit log and the page dump.
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "korinbo/file_io.h"

namespace korinbo {

inline constexpr std::string_view kSeenLogName = "logdata.txt";
inline constexpr std::string_view kVisitLogName = "visitdata.txt";
inline constexpr std::string_view kPageDumpName = "getdata.txt";
inline constexpr std::size_t kSeenLogLimit = 1000;

// A missing file is the empty list. Throws FileError when the file cannot be read.
std::vector<std::string> LoadHistory(const std::filesystem::path& start_dir, std::string_view file_name);
// Replaces the file atomically with every line followed by CR LF. Throws FileError.
void SaveHistory(const std::filesystem::path& start_dir, std::string_view file_name,
                 const std::vector<std::string>& lines, Durability durability = Durability::kFlushed);
// True when the link occurs anywhere in the lines joined with CR LF, as a byte substring.
bool HistoryContains(const std::vector<std::string>& lines, std::string_view link);
// Appends the link to the visit log unless it is present, and writes the log back either way.
void RecordVisit(const std::filesystem::path& start_dir, std::string_view link);

}  // namespace korinbo
