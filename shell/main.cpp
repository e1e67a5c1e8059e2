// korinbo: the headline reader's window.
#include <chrono>
#include <cstdio>
#include <string>

#include <QApplication>
#include <QMessageBox>

#include "program.h"
#include "qt_text.h"
#include "qt_translations.h"
#include "single_instance.h"
#include "start_options.h"

int main(int argc, char** argv) {
  using korinbo::StartOptions;
  // Before Qt, so that --help and --version need no display.
  const StartOptions options = korinbo::TakeStartOptions(argc, argv);
  switch (options.request) {
    case StartOptions::Request::kHelp:
      std::fputs(korinbo::kStartUsage, stdout);
      return 0;
    case StartOptions::Request::kVersion:
      std::puts("korinbo " KORINBO_VERSION);
      return 0;
    case StartOptions::Request::kUsageError:
      std::fprintf(stderr, "korinbo: %s\n%s", options.error.c_str(), korinbo::kStartUsage);
      return 2;
    case StartOptions::Request::kRun:
      break;
  }

  QApplication app(argc, argv);
  QGuiApplication::setDesktopFileName(QString::fromUtf8(korinbo::kDesktopEntryId));
  if (const QStringList rest = QApplication::arguments(); rest.size() > 1) {
    std::fprintf(stderr, "korinbo: unknown argument %s\n%s", rest[1].toLocal8Bit().constData(),
                 korinbo::kStartUsage);
    return 2;
  }
  korinbo::InstallQtTranslations(app);
  // The tray icon keeps the program alive while the window is hidden; only closing ends it.
  QApplication::setQuitOnLastWindowClosed(false);

  std::string error;
  const auto start_dir = korinbo::ResolveStartDirectory(options, error);
  if (!start_dir) {
    std::fprintf(stderr, "korinbo: %s\n", error.c_str());
    return 2;
  }
  // One window per start directory: a later start hands its request over and ends.
  std::string holder;
  const auto instance = korinbo::SingleInstance::Claim(*start_dir, holder);
  if (!instance) {
    const auto request = options.toggle ? korinbo::SingleInstance::Request::kToggle
                                        : korinbo::SingleInstance::Request::kShow;
    if (korinbo::SingleInstance::Send(*start_dir, request, std::chrono::seconds(10))) return 0;
    const QString text = QString::fromUtf8("%1 は他のプログラム（%2）が使用中です。")
                             .arg(korinbo::PathToQString(*start_dir), QString::fromStdString(holder));
    std::fprintf(stderr, "korinbo: %s\n", text.toLocal8Bit().constData());
    QMessageBox::critical(nullptr, korinbo::ProgramTitle(QCoreApplication::applicationFilePath()), text);
    return 1;
  }

  korinbo::Program program(*start_dir, korinbo::UserSettingsFile());
  instance->SetHandler([&program](korinbo::SingleInstance::Request request) {
    if (request == korinbo::SingleInstance::Request::kToggle) {
      program.Toggle();
    } else {
      program.BringForward();
    }
  });
  program.Start();
  return QApplication::exec();
}
