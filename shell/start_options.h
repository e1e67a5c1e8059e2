#pragma once
// The program's command line and the folders it works in: the start directory (the working
// directory, --dir DIR, or the per-user folder of an installed program) and the settings file.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace korinbo {

// The desktop entry's id, also the name of the icon and of the AppStream file.
inline constexpr std::string_view kDesktopEntryId = "org.korinbo.Korinbo";
// The value of --dir that names the per-user data folder, for the desktop entry, whose command
// line cannot name the home folder.
inline constexpr std::string_view kUserDataDirArgument = "@data";

struct StartOptions {
  enum class Request { kRun, kHelp, kVersion, kUsageError };
  Request request = Request::kRun;
  std::optional<std::string> dir;  // as given
  bool toggle = false;
  std::string error;  // with kUsageError
};

// Takes the program's own options out of argv (--dir DIR, --dir=DIR, --toggle, --help, --version)
// and leaves the rest for Qt, which takes its own; anything left after Qt is a usage error.
StartOptions TakeStartOptions(int& argc, char** argv);
extern const char* const kStartUsage;

// The start directory, made absolute and canonical: the working directory, the given folder, or
// for "@data" $XDG_DATA_HOME/korinbo, made with an empty newsurl folder when it is missing.
// nullopt with a message when the folder does not exist or cannot be made.
std::optional<std::filesystem::path> ResolveStartDirectory(const StartOptions& options, std::string& error);

// The settings file: beside the program file where its folder can be written and does not lie
// under /usr (a portable folder, a build folder), otherwise
// $XDG_CONFIG_HOME/korinbo/korinbo.ini, which shutdown makes with its folder.
std::filesystem::path ChooseSettingsFile(const std::filesystem::path& beside_program, bool folder_writable,
                                         const std::filesystem::path& config_home);
std::filesystem::path UserSettingsFile();

}  // namespace korinbo
