#pragma once
// One program at a time writes a start directory's history files: the window for as long as it
// runs, korinbo-fetch for one fetch. The lock is an flock() on the file ".korinbo.lock" in the
// directory, so the system drops it when its holder ends, by a crash or a kill too: no lock is
// ever left behind, and the file that stays carries none.
#include <filesystem>
#include <string>
#include <string_view>

#include "korinbo/file_descriptor.h"

namespace korinbo {

inline constexpr std::string_view kDirectoryLockName = ".korinbo.lock";

class DirectoryLock {
 public:
  enum class Outcome {
    kTaken,       // held by this object until it goes
    kBusy,        // another program holds it
    kNoLockFile,  // the file cannot be made (a read-only folder): nothing can be written there anyway
  };

  // Takes the lock without waiting and writes "<program> <process id>" into the file for the
  // message of a program that finds it busy.
  static DirectoryLock TryTake(const std::filesystem::path& dir, std::string_view program);

  Outcome outcome() const { return outcome_; }
  // With kBusy: what the holder wrote, such as "korinbo 1234"; empty when it had not yet.
  const std::string& holder() const { return holder_; }

 private:
  DirectoryLock(Outcome outcome, FileDescriptor fd, std::string holder)
      : outcome_(outcome), fd_(std::move(fd)), holder_(std::move(holder)) {}

  Outcome outcome_;
  FileDescriptor fd_;
  std::string holder_;
};

}  // namespace korinbo
