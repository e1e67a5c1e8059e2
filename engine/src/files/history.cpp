#include "korinbo/history.h"

#include "korinbo/file_io.h"

namespace korinbo {

std::vector<std::string> LoadHistory(const std::filesystem::path& start_dir, std::string_view file_name) {
  const auto bytes = ReadFileBytes(PathInDirectory(start_dir, file_name));
  return bytes ? SplitLines(*bytes) : std::vector<std::string>{};
}

void SaveHistory(const std::filesystem::path& start_dir, std::string_view file_name,
                 const std::vector<std::string>& lines) {
  ReplaceFileAtomically(PathInDirectory(start_dir, file_name), JoinLines(lines));
}

bool HistoryContains(const std::vector<std::string>& lines, std::string_view link) {
  // The joined text, so that a link is found across the line ends too.
  return JoinLines(lines).find(link) != std::string::npos;
}

void RecordVisit(const std::filesystem::path& start_dir, std::string_view link) {
  auto visits = LoadHistory(start_dir, kVisitLogName);
  if (!HistoryContains(visits, link)) visits.emplace_back(link);
  SaveHistory(start_dir, kVisitLogName, visits);
}

}  // namespace korinbo
