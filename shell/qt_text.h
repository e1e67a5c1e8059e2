#pragma once
// The one place where the program's Shift_JIS texts meet Qt's UTF-16 strings: texts stay
// Shift_JIS inside and become QString only at the widgets.
#include <filesystem>
#include <string>
#include <string_view>

#include <QString>

namespace korinbo {

// For display: bytes that are not CP932 show as U+FFFD.
QString ToQString(std::string_view sjis);
// From a widget or a dialog: a character CP932 cannot hold becomes "?".
std::string ToSjis(const QString& text);

// A file system path as Qt spells it, and back.
QString PathToQString(const std::filesystem::path& path);
std::filesystem::path PathFromQString(const QString& path);

// The caption of the program's message boxes: the program file's name without its folder, cut at
// its first ".", every letter after the first in lower case ("/opt/KORINBO.bin" gives "Korinbo").
QString ProgramTitle(const QString& application_file_path);

}  // namespace korinbo
