#pragma once
// The settings file: a profile file beside the program file, read once at start-up and written
// once at shutdown. Texts are Shift_JIS.
#include <array>
#include <filesystem>
#include <string>
#include <string_view>

#include "korinbo/keyword.h"
#include "korinbo/proxy_mode.h"
#include "korinbo/shortcut.h"

namespace korinbo {

// `TaskWay`: minimising ("Min") or closing ("Stop") hides the window to the tray; kOther neither.
enum class TaskWayMode { kMin, kStop, kOther };
constexpr std::array<std::string_view, 2> KeywordTexts(TaskWayMode) { return {"Min", "Stop"}; }

// `AlwaysTop`: only "True" keeps the window above the others.
enum class AlwaysTopMode { kTrue, kFalse, kOther };
constexpr std::array<std::string_view, 2> KeywordTexts(AlwaysTopMode) { return {"True", "False"}; }

// The process-wide settings, named after their keys. Defaults are those of a missing file.
struct Settings {
  std::string ExecName;
  std::string LastNews;
  std::string FontName;  // "ＭＳ Ｐゴシック" by default
  std::string ProxyName = "False";
  Keyword<ProxyMode> UseProxy = ProxyMode::kDirect;
  Keyword<AlwaysTopMode> AlwaysTop = AlwaysTopMode::kFalse;  // read, never written
  Keyword<TaskWayMode> TaskWay = TaskWayMode::kMin;
  TShortCut Shortcut = 0;
  int FontSize = 10;
  // The background check of the favourites: "True" turns it on; every AutoCheckMinutes minutes.
  std::string AutoCheck = "False";
  int AutoCheckMinutes = 30;
  Settings();  // sets FontName's Shift_JIS default
};

// The window's placement and pane sizes; Top and Left default to the work area's corner.
struct WindowGeometry {
  int Top = 0;
  int Left = 0;
  int Width = 638;
  int Height = 350;
  int LvWidth = 177;
  int Lv2Col0 = 200;
  int Lv2Col1 = 200;
  int Lv2Col2 = 200;
};

// The range of AutoCheckMinutes; a file's value outside it is taken as the nearest end.
inline constexpr int kAutoCheckMinutesMin = 5;
inline constexpr int kAutoCheckMinutesMax = 1440;

struct WorkArea {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
};

// The program file's full path (from /proc/self/exe) with its extension replaced by ".ini", or
// ".ini" appended when it has none.
std::filesystem::path SettingsFilePath();
// The same rule for a given program file.
std::filesystem::path SettingsFilePathFor(const std::filesystem::path& program_file);

struct LoadedSettings {
  Settings settings;
  WindowGeometry geometry;  // as read, before placement
};
// Reads every key in order with its default; a missing or unreadable file gives every default.
LoadedSettings LoadSettings(const std::filesystem::path& file, const WorkArea& work_area);

// Keeps the window reachable: the four corrections against the work area, in order.
WindowGeometry PlaceWindow(WindowGeometry geometry, const WorkArea& work_area);

// Writes the keys of the saving list, in order, then AutoCheck and AutoCheckMinutes, into the
// file; every other line stays. Throws
// FileError ("%s に書き込めません") and leaves the file as it was when it cannot.
void SaveSettings(const std::filesystem::path& file, const Settings& settings,
                  const WindowGeometry& geometry);

}  // namespace korinbo
