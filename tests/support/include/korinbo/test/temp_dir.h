#pragma once
// A fresh folder under the system's temporary directory, removed with everything in it at the end.
#include <filesystem>
#include <string_view>

namespace korinbo::test {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // Writes `bytes` to path()/relative, creating folders on the way; gives the full path.
  std::filesystem::path Write(const std::filesystem::path& relative, std::string_view bytes) const;

 private:
  std::filesystem::path path_;
};

}  // namespace korinbo::test
