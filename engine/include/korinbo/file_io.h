#pragma once
// Whole-file reading and writing, line files, and the boundary between the program's Shift_JIS
// file names and the file system's UTF-8 names.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "korinbo/large_block.h"

namespace korinbo {

// The whole file; nullopt when it does not exist. Throws FileError ("ファイル %s を開けません")
// when it exists but cannot be read, and for a directory or a device. A FIFO is read until its
// writer closes it; one without a writer reads as empty.
// `spare_capacity`: room for this many more bytes, for a text that will grow.
std::optional<std::string> ReadFileBytes(const std::filesystem::path& path, std::size_t spare_capacity = 0);
// The same, in large-block storage: for a file that may be megabytes (a history file).
std::optional<LargeString> ReadLargeFileBytes(const std::filesystem::path& path, std::size_t spare_capacity = 0);

// Whether a replaced file must survive a power failure: flushed to disk before and after the
// rename (user data), or only renamed, which already survives a crash or a kill of the program and
// a full disk (files that every fetch rewrites and that cost nothing to lose, where a flush would
// cost more than the rest of the fetch).
enum class Durability { kFlushed, kRenamed };

// Replaces the file atomically: a temporary file in the same folder, then renamed over the old
// one, so that the file is always either the old or the new one. A symbolic link
// stays a link and its target is replaced; an existing file keeps its owner and permissions.
// Throws FileError ("ファイル %s を作成できません") when it cannot, and the old file stays as it was.
void ReplaceFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                           Durability durability = Durability::kFlushed);

// What tells whether a file has changed since it was read: which file it is, its size and its
// times. A missing file has a stamp too.
struct FileStamp {
  bool exists = false;
  std::uint64_t device = 0, inode = 0, size = 0;
  std::int64_t modified_ns = 0, changed_ns = 0;
  bool operator==(const FileStamp&) const = default;
};
// nullopt when the path cannot be looked at (a folder on the way that may not be read, say).
std::optional<FileStamp> StampOf(const std::filesystem::path& path);

// Appends one line to a line file and leaves every byte it held as it was: the line and its CR LF
// go to the file's end in one write, and reach the disk before this returns. A file whose last
// byte is no line end gets CR LF first, so that the new line never joins the last one. A missing
// file is created. Gives the file's stamps just before and just after. Throws FileError
// ("ファイル %s を作成できません") when it cannot.
struct AppendedStamps {
  FileStamp before;
  FileStamp after;
};
AppendedStamps AppendLine(const std::filesystem::path& path, std::string_view line);

// A line file's lines: split at CR LF, lone CR and lone LF; a final line break adds no empty line;
// everything from the first NUL byte on is dropped.
std::vector<std::string> SplitLines(std::string_view text);
// Where each line of SplitLines lies in the text, appended to `starts` and `sizes`.
template <typename Spans>
void SplitLineSpans(std::string_view text, Spans& starts, Spans& sizes);
extern template void SplitLineSpans(std::string_view, std::vector<std::size_t>&, std::vector<std::size_t>&);
extern template void SplitLineSpans(std::string_view, LargeVector<std::size_t>&, LargeVector<std::size_t>&);
// Every line followed by CR LF.
std::string JoinLines(const std::vector<std::string>& lines);

// The Shift_JIS text of a name read from the file system: a UTF-8 name is converted; any other
// name (a folder copied from Windows) is taken as the Shift_JIS bytes it is.
std::string SjisFromNativeName(std::string_view native_name);
// The file named by a Shift_JIS text inside dir: its UTF-8 spelling, or its raw bytes where only
// a file of that spelling exists, or else the entry whose SjisFromNativeName is that text (CP932
// takes several UTF-8 spellings to one text, such as U+301C and U+FF5E). Where none exists, the
// UTF-8 spelling, as a new file gets it.
std::filesystem::path PathInDirectory(const std::filesystem::path& dir, std::string_view sjis_name);
// A path for messages, in Shift_JIS, each name converted as SjisFromNativeName does.
std::string SjisPathText(const std::filesystem::path& path);

}  // namespace korinbo
