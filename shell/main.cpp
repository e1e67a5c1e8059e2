// korinbo: the headline reader's window.
#include <filesystem>
#include <system_error>

#include <QApplication>
#include <QDBusConnection>

#include "korinbo/settings.h"
#include "main_window.h"
#include "program.h"
#include "qt_translations.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  korinbo::InstallQtTranslations(app);
  // The tray icon keeps the program alive while the window is hidden; only closing ends it.
  QApplication::setQuitOnLastWindowClosed(false);
  // The start directory is the working directory at start-up; every data file but the settings
  // file lives there.
  std::error_code error;
  std::filesystem::path start_dir = std::filesystem::current_path(error);
  if (error) start_dir = ".";
  korinbo::Program program(start_dir, korinbo::SettingsFilePath(), QDBusConnection::sessionBus());
  program.Start();
  return QApplication::exec();
}
