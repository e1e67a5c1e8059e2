#include "korinbo/settings.h"

#include <algorithm>
#include <exception>
#include <optional>
#include <system_error>

#include "korinbo/codepage.h"
#include "korinbo/errors.h"
#include "korinbo/file_io.h"
#include "korinbo/profile.h"

namespace korinbo {
namespace {

const std::string& DefaultFontName() {
  static const std::string name = Sjis("ＭＳ Ｐゴシック");
  return name;
}

std::string CannotWriteText(const std::filesystem::path& file) {
  static const std::string suffix = Sjis(" に書き込めません");
  return SjisPathText(file) + suffix;
}

}  // namespace

Settings::Settings() : FontName(DefaultFontName()) {}

std::filesystem::path SettingsFilePathFor(const std::filesystem::path& program_file) {
  std::filesystem::path file = program_file;
  file.replace_extension(".ini");
  return file;
}

std::filesystem::path SettingsFilePath() {
  std::error_code error;
  std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return {};
  // A program file replaced while running (an update) shows as "<path> (deleted)"; its settings
  // still belong beside the path it was started from.
  static constexpr std::string_view kDeleted = " (deleted)";
  const std::string native = program.native();
  if (native.ends_with(kDeleted) && !std::filesystem::exists(program, error)) {
    program = native.substr(0, native.size() - kDeleted.size());
  }
  return SettingsFilePathFor(program);
}

LoadedSettings LoadSettings(const std::filesystem::path& file, const WorkArea& work_area) {
  ProfileFile profile;
  try {
    if (const std::optional<std::string> bytes = ReadFileBytes(file)) profile = ProfileFile(*bytes);
  } catch (const std::exception&) {
    // An unreadable file reads as a missing one: every setting takes its default.
  }

  LoadedSettings loaded;
  Settings& s = loaded.settings;
  s.ExecName = profile.ReadString("File", "ExecName", s.ExecName);
  s.LastNews = profile.ReadString("Form", "LastNews", s.LastNews);
  s.FontName = profile.ReadString("Form", "FontName", s.FontName);
  s.ProxyName = profile.ReadString("Form", "ProxyName", s.ProxyName);
  s.UseProxy = Keyword<ProxyMode>(profile.ReadString("Form", "UseProxy", s.UseProxy.text()));
  s.AlwaysTop = Keyword<AlwaysTopMode>(profile.ReadString("Form", "AlwaysTop", s.AlwaysTop.text()));
  s.TaskWay = Keyword<TaskWayMode>(profile.ReadString("Form", "TaskWay", s.TaskWay.text()));
  s.Shortcut = ParseShortCut(profile.ReadString("Form", "Shortcut", ""));
  s.AutoCheck = profile.ReadString("Form", "AutoCheck", s.AutoCheck);

  WindowGeometry& g = loaded.geometry;
  g.Top = profile.ReadInteger("Form", "Top", work_area.top);
  g.Left = profile.ReadInteger("Form", "Left", work_area.left);
  g.Width = profile.ReadInteger("Form", "Width", g.Width);
  g.Height = profile.ReadInteger("Form", "Height", g.Height);
  s.FontSize = profile.ReadInteger("Form", "FontSize", s.FontSize);
  g.LvWidth = profile.ReadInteger("Form", "LvWidth", g.LvWidth);
  g.Lv2Col0 = profile.ReadInteger("Form", "Lv2Col0", g.Lv2Col0);
  g.Lv2Col1 = profile.ReadInteger("Form", "Lv2Col1", g.Lv2Col1);
  g.Lv2Col2 = profile.ReadInteger("Form", "Lv2Col2", g.Lv2Col2);
  s.AutoCheckMinutes = std::clamp(profile.ReadInteger("Form", "AutoCheckMinutes", s.AutoCheckMinutes),
                                  kAutoCheckMinutesMin, kAutoCheckMinutesMax);
  return loaded;
}

WindowGeometry PlaceWindow(WindowGeometry geometry, const WorkArea& work_area) {
  // Compared in 64 bits: "right - 100" must not wrap for a work area near the int range's ends.
  const long long right = work_area.right;
  const long long bottom = work_area.bottom;
  if (geometry.Left > right - 100) geometry.Left = work_area.left;
  if (geometry.Left < work_area.left) geometry.Left = work_area.left;
  if (geometry.Top < work_area.top) geometry.Top = work_area.top;
  if (geometry.Top > bottom - 100) geometry.Top = work_area.top;
  return geometry;
}

void SaveSettings(const std::filesystem::path& file, const Settings& settings,
                  const WindowGeometry& geometry) {
  std::optional<std::string> old_bytes;
  try {
    old_bytes = ReadFileBytes(file);
  } catch (const std::exception&) {
    // Writing without the old lines would lose them.
    throw FileError(CannotWriteText(file));
  }
  ProfileFile profile(old_bytes.value_or(""));

  // Every key name here is storable, so the writes cannot be refused.
  profile.WriteInteger("Form", "Top", geometry.Top);
  profile.WriteInteger("Form", "Left", geometry.Left);
  profile.WriteInteger("Form", "Width", geometry.Width);
  profile.WriteInteger("Form", "Height", geometry.Height);
  profile.WriteInteger("Form", "LvWidth", geometry.LvWidth);
  profile.WriteInteger("Form", "Lv2Col0", geometry.Lv2Col0);
  profile.WriteInteger("Form", "Lv2Col1", geometry.Lv2Col1);
  profile.WriteInteger("Form", "Lv2Col2", geometry.Lv2Col2);
  profile.WriteInteger("Form", "FontSize", settings.FontSize);
  profile.WriteString("Form", "LastNews", settings.LastNews);
  profile.WriteString("Form", "FontName", settings.FontName);
  profile.WriteString("Form", "ProxyName", settings.ProxyName);
  profile.WriteString("Form", "UseProxy", settings.UseProxy.text());
  profile.WriteString("Form", "TaskWay", settings.TaskWay.text());
  profile.WriteString("Form", "Shortcut", FormatShortCut(settings.Shortcut));
  profile.WriteString("File", "ExecName", settings.ExecName);
  profile.WriteString("Form", "AutoCheck", settings.AutoCheck);
  profile.WriteInteger("Form", "AutoCheckMinutes", settings.AutoCheckMinutes);

  try {
    // A settings file in the user's configuration folder comes with its folder on first use.
    if (file.has_parent_path()) {
      std::error_code ignored;  // a folder that cannot be made fails the write below
      std::filesystem::create_directories(file.parent_path(), ignored);
    }
    ReplaceFileAtomically(file, profile.Bytes());
  } catch (const std::exception&) {
    throw FileError(CannotWriteText(file));
  }
}

}  // namespace korinbo
