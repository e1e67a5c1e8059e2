#include "start_options.h"

#include <unistd.h>

#include <cstring>
#include <system_error>

#include <QStandardPaths>

#include "korinbo/settings.h"
#include "korinbo/site_tree.h"
#include "qt_text.h"

namespace korinbo {

const char* const kStartUsage =
    "usage: korinbo [--dir DIR] [--toggle] [Qt options]\n"
    "\n"
    "  --dir DIR   the start directory, where newsurl/ and the history files are (default: the\n"
    "              working directory); --dir @data is $XDG_DATA_HOME/korinbo, made on first use\n"
    "  --toggle    hide the running window to the tray or bring it back, as the hotkey does;\n"
    "              without a running window for the directory, start one\n"
    "  --help      this text\n"
    "  --version   the version\n"
    "\n"
    "A second start for the same start directory brings the running window forward and ends.\n";

StartOptions TakeStartOptions(int& argc, char** argv) {
  StartOptions options;
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      options.request = StartOptions::Request::kHelp;
    } else if (arg == "--version") {
      options.request = StartOptions::Request::kVersion;
    } else if (arg == "--toggle") {
      options.toggle = true;
    } else if (arg == "--dir") {
      if (i + 1 >= argc) {
        options.request = StartOptions::Request::kUsageError;
        options.error = "--dir lacks its value";
        break;
      }
      options.dir = argv[++i];
    } else if (arg.starts_with("--dir=")) {
      options.dir = std::string(arg.substr(std::strlen("--dir=")));
    } else {
      argv[kept++] = argv[i];
    }
  }
  for (int i = kept; i < argc; ++i) argv[i] = nullptr;
  argc = kept;
  if (options.request == StartOptions::Request::kRun && options.dir && options.dir->empty()) {
    options.request = StartOptions::Request::kUsageError;
    options.error = "--dir is empty";
  }
  return options;
}

std::optional<std::filesystem::path> ResolveStartDirectory(const StartOptions& options, std::string& error) {
  std::error_code failure;
  std::filesystem::path dir;
  if (!options.dir) {
    dir = std::filesystem::current_path(failure);
    if (failure) dir = ".";
  } else if (*options.dir == kUserDataDirArgument) {
    const QString data_home = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    dir = PathFromQString(data_home) / "korinbo";
    std::filesystem::create_directories(dir / std::string(kSiteFolderName), failure);
    if (failure) {
      error = dir.string() + ": " + failure.message();
      return std::nullopt;
    }
  } else {
    dir = *options.dir;
  }
  std::filesystem::path canonical = std::filesystem::canonical(dir, failure);
  if (failure || !std::filesystem::is_directory(canonical, failure)) {
    error = dir.string() + ": " + (failure ? failure.message() : std::string("not a folder"));
    return std::nullopt;
  }
  return canonical;
}

std::filesystem::path ChooseSettingsFile(const std::filesystem::path& beside_program, bool folder_writable,
                                         const std::filesystem::path& config_home) {
  // A program under /usr belongs to the package manager: never beside it, even for root.
  const std::string folder = beside_program.parent_path().lexically_normal().string();
  const bool system_folder = folder == "/usr" || folder.starts_with("/usr/");
  if (!beside_program.empty() && folder_writable && !system_folder) return beside_program;
  return config_home / "korinbo" / beside_program.filename();
}

std::filesystem::path UserSettingsFile() {
  const std::filesystem::path beside = SettingsFilePath();
  const bool writable = !beside.empty() && ::access(beside.parent_path().c_str(), W_OK) == 0;
  const QString config_home = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
  return ChooseSettingsFile(beside.empty() ? std::filesystem::path("korinbo.ini") : beside, writable,
                            PathFromQString(config_home));
}

}  // namespace korinbo
