// Whole-file reading, atomic replacement, line files, and the Shift_JIS / UTF-8 file-name boundary.
#include "korinbo/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <random>
#include <system_error>
#include <utility>

#include "korinbo/codepage.h"
#include "korinbo/errors.h"
#include "korinbo/file_descriptor.h"

namespace korinbo {
namespace {

namespace fs = std::filesystem;

[[noreturn]] void ThrowCannotOpen(const fs::path& path) {
  static const std::string before = Sjis("ファイル ");
  static const std::string after = Sjis(" を開けません");
  throw FileError(before + SjisPathText(path) + after);
}

[[noreturn]] void ThrowCannotCreate(const fs::path& path) {
  static const std::string before = Sjis("ファイル ");
  static const std::string after = Sjis(" を作成できません");
  throw FileError(before + SjisPathText(path) + after);
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;  // 0 would loop for ever
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

// The file a path finally names: a symbolic link is followed, so that replacing the file keeps
// the link. nullopt for a loop of links.
std::optional<fs::path> FollowLinks(fs::path path) {
  for (int hop = 0; hop < 40; ++hop) {
    std::error_code error;
    if (!fs::is_symlink(fs::symlink_status(path, error))) return path;
    fs::path target = fs::read_symlink(path, error);
    if (error) return path;
    path = target.is_absolute() ? target : path.parent_path() / target;
  }
  return std::nullopt;
}

// A new, empty temporary file next to the file it will replace. O_EXCL makes the name ours alone,
// and creating it with 0666 lets the umask give a new file its usual permissions.
std::pair<FileDescriptor, fs::path> CreateTemporary(const fs::path& target) {
  const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
  std::string stem = target.filename().native();
  if (stem.size() > 200) stem.resize(200);  // room for the suffix within the longest name
  static thread_local std::mt19937_64 random{std::random_device{}()};
  for (int attempt = 0; attempt < 100; ++attempt) {
    static const char digits[] = "0123456789abcdef";
    std::string name = "." + stem + ".";
    for (std::uint64_t bits = random(), i = 0; i < 12; ++i, bits >>= 4) name += digits[bits & 15];
    name += ".tmp";
    fs::path temporary = folder / name;
    FileDescriptor fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (fd.ok()) return {std::move(fd), std::move(temporary)};
    if (errno != EEXIST) break;
  }
  return {};
}

FileStamp StampOfInfo(const struct stat& info) {
  auto ns = [](const timespec& time) { return std::int64_t{time.tv_sec} * 1000000000 + time.tv_nsec; };
  return FileStamp{true,
                   static_cast<std::uint64_t>(info.st_dev),
                   static_cast<std::uint64_t>(info.st_ino),
                   static_cast<std::uint64_t>(info.st_size),
                   ns(info.st_mtim),
                   ns(info.st_ctim)};
}

// Whether something (a dangling link too) has that name.
bool NameExists(const fs::path& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

}  // namespace

namespace {

template <typename Bytes>
std::optional<Bytes> ReadBytes(const fs::path& path, std::size_t spare_capacity) {
  // O_NONBLOCK so that a FIFO without a writer cannot block the open.
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd.ok()) {
    if (errno == ENOENT || errno == ENOTDIR) return std::nullopt;
    ThrowCannotOpen(path);
  }
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) ThrowCannotOpen(path);
  // A directory, a device or a socket is no data file; a device such as /dev/zero never ends.
  if (!S_ISREG(info.st_mode) && !S_ISFIFO(info.st_mode)) ThrowCannotOpen(path);
  if (S_ISFIFO(info.st_mode)) {
    // A FIFO whose writer has gone reads as its end; one with a writer is read until it closes.
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) ThrowCannotOpen(path);
  }
  Bytes bytes;
  try {
    if (S_ISREG(info.st_mode)) bytes.reserve(static_cast<std::size_t>(info.st_size) + spare_capacity);
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
  } catch (const std::bad_alloc&) {
    ThrowCannotOpen(path);
  } catch (const std::length_error&) {
    ThrowCannotOpen(path);
  }
  return bytes;
}

}  // namespace

std::optional<std::string> ReadFileBytes(const fs::path& path, std::size_t spare_capacity) {
  return ReadBytes<std::string>(path, spare_capacity);
}

std::optional<LargeString> ReadLargeFileBytes(const fs::path& path, std::size_t spare_capacity) {
  return ReadBytes<LargeString>(path, spare_capacity);
}

void ReplaceFileAtomically(const fs::path& path, std::string_view bytes, Durability durability) {
  const auto target = FollowLinks(path);
  if (!target) ThrowCannotCreate(path);
  auto [fd, temporary] = CreateTemporary(*target);
  if (!fd.ok()) ThrowCannotCreate(path);

  bool written = true;
  struct stat old {};
  if (::stat(target->c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
    // The new file takes the old one's owner (where we may) and permission bits. The owner
    // first: changing it clears set-user-ID bits that the chmod then restores.
    if (::fchown(fd.get(), old.st_uid, old.st_gid) != 0) {
      // Not ours to give away: the file becomes ours, which is what any rewrite would do.
    }
    written = ::fchmod(fd.get(), old.st_mode & 07777) == 0;
  }
  written = written && WriteAll(fd.get(), bytes) && (durability == Durability::kRenamed || ::fsync(fd.get()) == 0);
  if (!fd.Close() || !written || ::rename(temporary.c_str(), target->c_str()) != 0) {
    ::unlink(temporary.c_str());
    ThrowCannotCreate(path);
  }
  // The rename itself reaches the disk with the folder.
  if (durability == Durability::kRenamed) return;
  const fs::path folder = target->has_parent_path() ? target->parent_path() : fs::path(".");
  FileDescriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.ok()) ::fsync(dir.get());
}

std::optional<FileStamp> StampOf(const fs::path& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0) return StampOfInfo(info);
  if (errno == ENOENT) return FileStamp{};
  return std::nullopt;
}

AppendedStamps AppendLine(const fs::path& path, std::string_view line) {
  FileDescriptor fd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666));
  struct stat info {};
  if (!fd.ok() || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) ThrowCannotCreate(path);
  AppendedStamps stamps{StampOfInfo(info), {}};
  std::string bytes;
  bytes.reserve(line.size() + 4);
  if (info.st_size > 0) {
    char last = '\n';
    // Read through a second descriptor: this one is open for writing only.
    FileDescriptor reader(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!reader.ok() || ::pread(reader.get(), &last, 1, info.st_size - 1) != 1) ThrowCannotCreate(path);
    if (last != '\r' && last != '\n') bytes += "\r\n";
  }
  bytes.append(line);
  bytes += "\r\n";
  // One write: with O_APPEND the line lands whole at the end, after anything written meanwhile.
  const ssize_t written = ::write(fd.get(), bytes.data(), bytes.size());
  if (written != static_cast<ssize_t>(bytes.size()) || ::fdatasync(fd.get()) != 0 || ::fstat(fd.get(), &info) != 0) {
    ThrowCannotCreate(path);
  }
  stamps.after = StampOfInfo(info);
  if (!fd.Close()) ThrowCannotCreate(path);
  return stamps;
}

template <typename Spans>
void SplitLineSpans(std::string_view text, Spans& starts, Spans& sizes) {
  text = text.substr(0, text.find('\0'));
  // Room for the lines at once (a lone CR, seldom met, makes more): growing tables of a long log
  // would touch twice the memory.
  const auto lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
  starts.reserve(starts.size() + lines);
  sizes.reserve(sizes.size() + lines);
  auto add = [&](std::size_t start, std::size_t end) {
    starts.push_back(start);
    sizes.push_back(end - start);
  };
  // memchr finds the line ends many bytes at a time: a long visit log is mostly long lines.
  const char* const data = text.data();
  std::size_t start = 0;
  while (start < text.size()) {
    const auto* lf = static_cast<const char*>(std::memchr(data + start, '\n', text.size() - start));
    const std::size_t line_end = lf != nullptr ? static_cast<std::size_t>(lf - data) : text.size();
    // A CR ends a line too, alone or as the first byte of CR LF.
    while (const auto* cr = static_cast<const char*>(std::memchr(data + start, '\r', line_end - start))) {
      const auto at = static_cast<std::size_t>(cr - data);
      add(start, at);
      start = at + 1;
    }
    if (lf == nullptr) {
      if (start < text.size()) add(start, text.size());
      break;
    }
    // The LF of CR LF ends nothing more.
    if (start != line_end || line_end == 0 || data[line_end - 1] != '\r') add(start, line_end);
    start = line_end + 1;
  }
}

template void SplitLineSpans(std::string_view, std::vector<std::size_t>&, std::vector<std::size_t>&);
template void SplitLineSpans(std::string_view, LargeVector<std::size_t>&, LargeVector<std::size_t>&);

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::size_t> starts;
  std::vector<std::size_t> sizes;
  SplitLineSpans(text, starts, sizes);
  std::vector<std::string> lines;
  lines.reserve(starts.size());
  for (std::size_t i = 0; i < starts.size(); ++i) lines.emplace_back(text.substr(starts[i], sizes[i]));
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
  bool ascii = true;
  for (char c : native_name) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  if (ascii) return std::string(native_name);
  if (auto sjis = Utf8ToCp932(native_name)) return std::move(*sjis);
  return std::string(native_name);
}

fs::path PathInDirectory(const fs::path& dir, std::string_view sjis_name) {
  const auto utf8 = Cp932ToUtf8(sjis_name);
  if (utf8) {
    fs::path path = dir / *utf8;
    if (NameExists(path)) return path;
  }
  fs::path raw = dir / std::string(sjis_name);
  if (NameExists(raw)) return raw;
  // Several UTF-8 spellings share one Shift_JIS text (U+301C and U+FF5E are both 81 60), and the
  // way back gives only one of them: find a name the other way round, the least one if several.
  if (!sjis_name.empty() && sjis_name.find('/') == std::string_view::npos) {
    std::error_code error;
    std::optional<fs::path> found;
    for (fs::directory_iterator it(dir, error), end; !error && it != end; it.increment(error)) {
      const fs::path name = it->path().filename();
      if ((!found || name < found->filename()) && SjisFromNativeName(name.native()) == sjis_name) {
        found = it->path();
      }
    }
    if (found) return *found;
  }
  return utf8 ? dir / *utf8 : raw;
}

std::string SjisPathText(const fs::path& path) {
  // Folder by folder: a raw Shift_JIS name below UTF-8 folders keeps both readable.
  const std::string& native = path.native();
  std::string text;
  text.reserve(native.size());
  std::size_t start = 0;
  for (;;) {
    const std::size_t slash = native.find('/', start);
    text += SjisFromNativeName(std::string_view(native).substr(start, slash - start));
    if (slash == std::string::npos) break;
    text += '/';
    start = slash + 1;
  }
  return text;
}

}  // namespace korinbo
