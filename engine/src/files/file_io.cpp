#include "korinbo/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "korinbo/codepage.h"
#include "korinbo/errors.h"

namespace korinbo {
namespace {

// A file descriptor, closed once.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() { Close(); }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }
  bool ok() const { return fd_ >= 0; }
  bool Close() {
    if (fd_ < 0) return true;
    const int result = ::close(fd_);
    fd_ = -1;
    return result == 0;
  }

 private:
  int fd_;
};

[[noreturn]] void ThrowCannotOpen(const std::filesystem::path& path) {
  static const std::string before = Sjis("ファイル ");
  static const std::string after = Sjis(" を開けません");
  throw FileError(before + SjisPathText(path) + after);
}

[[noreturn]] void ThrowCannotCreate(const std::filesystem::path& path) {
  static const std::string before = Sjis("ファイル ");
  static const std::string after = Sjis(" を作成できません");
  throw FileError(before + SjisPathText(path) + after);
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

}  // namespace

std::optional<std::string> ReadFileBytes(const std::filesystem::path& path) {
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.ok()) {
    if (errno == ENOENT || errno == ENOTDIR) return std::nullopt;
    ThrowCannotOpen(path);
  }
  std::string bytes;
  struct stat info {};
  if (::fstat(fd.get(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
    bytes.reserve(static_cast<std::size_t>(info.st_size));
  }
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      ThrowCannotOpen(path);
    }
    bytes.append(buffer, static_cast<std::size_t>(got));
  }
  return bytes;
}

void ReplaceFileAtomically(const std::filesystem::path& path, std::string_view bytes) {
  // A symbolic link stays a link: the file it points to is replaced.
  std::filesystem::path target = path;
  std::error_code error;
  if (std::filesystem::is_symlink(path, error)) {
    const auto resolved = std::filesystem::weakly_canonical(path, error);
    if (!error) target = resolved;
  }
  const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
  std::string temporary = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
  FileDescriptor fd(::mkstemp(temporary.data()));
  if (!fd.ok()) ThrowCannotCreate(path);

  struct stat old {};
  const mode_t mode = ::stat(target.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644;
  const bool written = ::fchmod(fd.get(), mode) == 0 && WriteAll(fd.get(), bytes) && ::fsync(fd.get()) == 0;
  if (!fd.Close() || !written || ::rename(temporary.c_str(), target.c_str()) != 0) {
    ::unlink(temporary.c_str());
    ThrowCannotCreate(path);
  }
  // The rename itself reaches the disk with the folder.
  FileDescriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.ok()) ::fsync(dir.get());
}

std::vector<std::string> SplitLines(std::string_view text) {
  text = text.substr(0, text.find('\0'));
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') continue;
    lines.emplace_back(text.substr(start, i - start));
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) lines.emplace_back(text.substr(start));
  return lines;
}

std::string JoinLines(const std::vector<std::string>& lines) {
  std::size_t size = 0;
  for (const auto& line : lines) size += line.size() + 2;
  std::string text;
  text.reserve(size);
  for (const auto& line : lines) {
    text += line;
    text += "\r\n";
  }
  return text;
}

std::string SjisFromNativeName(std::string_view native_name) {
  if (auto sjis = Utf8ToCp932(native_name)) return *sjis;
  return std::string(native_name);
}

std::filesystem::path PathInDirectory(const std::filesystem::path& dir, std::string_view sjis_name) {
  const auto utf8 = Cp932ToUtf8(sjis_name);
  std::error_code error;
  if (utf8) {
    const auto path = dir / *utf8;
    if (std::filesystem::exists(path, error) || *utf8 == sjis_name) return path;
  }
  const auto raw = dir / std::string(sjis_name);
  if (std::filesystem::exists(raw, error) || !utf8) return raw;
  return dir / *utf8;
}

std::string SjisPathText(const std::filesystem::path& path) { return SjisFromNativeName(path.native()); }

}  // namespace korinbo
