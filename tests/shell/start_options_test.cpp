// The program's command line, the start directory it gives, the settings file's place, and one
// window per start directory.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QTreeWidget>
#include <QtTest>

#include <future>
#include <memory>
#include <string>
#include <vector>

#include "korinbo/file_descriptor.h"
#include "korinbo/test/scoped_env.h"
#include "korinbo/test/temp_dir.h"
#include "main_window.h"
#include "portal_shortcuts.h"
#include "program.h"
#include "settings_dialog.h"
#include "single_instance.h"
#include "site_folder_guide.h"
#include "start_options.h"
#include "tray_residency.h"

namespace korinbo {
namespace {

using Request = StartOptions::Request;

sockaddr_un SocketAddressOf(const std::filesystem::path& dir) {
  const std::string name = SingleInstance::ServerName(dir).toStdString();
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  name.copy(address.sun_path, sizeof address.sun_path - 1);
  return address;
}

FileDescriptor ConnectedTo(const std::filesystem::path& dir) {
  FileDescriptor socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0));
  const sockaddr_un address = SocketAddressOf(dir);
  if (::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return {};
  return socket;
}

struct Parsed {
  StartOptions options;
  std::vector<std::string> rest;  // what is left for Qt
};

Parsed Parse(std::vector<std::string> args) {
  args.insert(args.begin(), "korinbo");
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  int argc = static_cast<int>(args.size());
  Parsed parsed;
  parsed.options = TakeStartOptions(argc, argv.data());
  for (int i = 1; i < argc; ++i) parsed.rest.emplace_back(argv[static_cast<std::size_t>(i)]);
  return parsed;
}

std::unique_ptr<Program> Started(const std::filesystem::path& dir) {
  auto program = std::make_unique<Program>(dir, dir / "korinbo.ini");
  program->window().SetMessageBoxHook([](MainWindow::BoxKind, const QString&, const QString&) {});
  program->Start();
  return program;
}

}  // namespace

class StartOptionsTest : public QObject {
  Q_OBJECT

 private slots:
  void TheProgramsOptionsAreTakenAndQtsLeft() {
    struct Case {
      std::vector<std::string> args;
      Request request;
      std::optional<std::string> dir;
      bool toggle;
      std::vector<std::string> rest;
    };
    const Case cases[] = {
        {{}, Request::kRun, std::nullopt, false, {}},
        {{"--dir", "/srv/news"}, Request::kRun, "/srv/news", false, {}},
        {{"--dir=@data", "--toggle"}, Request::kRun, "@data", true, {}},
        {{"-platform", "wayland", "--dir", "-odd", "-style", "fusion"}, Request::kRun, "-odd", false,
         {"-platform", "wayland", "-style", "fusion"}},
        {{"--bogus"}, Request::kRun, std::nullopt, false, {"--bogus"}},  // Qt's, or an error after Qt
        {{"--dir"}, Request::kUsageError, std::nullopt, false, {}},
        {{"--dir="}, Request::kUsageError, "", false, {}},
        {{"--toggle", "--help"}, Request::kHelp, std::nullopt, true, {}},
        {{"--version"}, Request::kVersion, std::nullopt, false, {}},
    };
    for (const Case& c : cases) {
      const Parsed parsed = Parse(c.args);
      const QByteArray label = QByteArray::fromStdString(c.args.empty() ? "(none)" : c.args.front());
      QVERIFY2(parsed.options.request == c.request, label.constData());
      QVERIFY2(parsed.options.dir == c.dir, label.constData());
      QVERIFY2(parsed.options.toggle == c.toggle, label.constData());
      QVERIFY2(parsed.rest == c.rest, label.constData());
    }
  }

  void TheStartDirectoryIsCanonicalAndTheUserFolderIsMadeOnFirstUse() {
    test::TempDir home;
    test::ScopedEnv env;
    env.Set("XDG_DATA_HOME", home.path().string() + "/data");
    std::string error;
    StartOptions options;
    options.dir = std::string(kUserDataDirArgument);
    const auto data = ResolveStartDirectory(options, error);
    QVERIFY2(data.has_value(), error.c_str());
    QCOMPARE(QString::fromStdString(data->string()), QString::fromStdString(home.path().string() + "/data/korinbo"));
    QVERIFY(std::filesystem::is_directory(*data / "newsurl"));
    QVERIFY(std::filesystem::is_empty(*data / "newsurl"));
    // A second start finds what the first made, sites included.
    home.Write("data/korinbo/newsurl/c_s.txt", "url=http://127.0.0.1/\r\n");
    QCOMPARE(ResolveStartDirectory(options, error), data);
    QVERIFY(std::filesystem::exists(*data / "newsurl" / "c_s.txt"));

    options.dir = home.path().string() + "/data/korinbo/newsurl/..";
    QCOMPARE(ResolveStartDirectory(options, error), data);
    options.dir = home.path().string() + "/missing";
    QVERIFY(!ResolveStartDirectory(options, error).has_value());
    QVERIFY(error.find("missing") != std::string::npos);
    options.dir = home.path().string() + "/data/korinbo/newsurl/c_s.txt";
    QVERIFY(!ResolveStartDirectory(options, error).has_value());
  }

  void TheSettingsFileLivesBesideAProgramTheUserMayWriteOnly() {
    struct Case {
      const char* program_ini;
      bool writable;
      const char* expected;
    };
    const Case cases[] = {
        {"/home/u/korinbo/korinbo.ini", true, "/home/u/korinbo/korinbo.ini"},
        {"/home/u/korinbo/korinbo.ini", false, "/cfg/korinbo/korinbo.ini"},
        {"/usr/bin/korinbo.ini", false, "/cfg/korinbo/korinbo.ini"},
        // root may write /usr/bin, but the package manager owns it
        {"/usr/bin/korinbo.ini", true, "/cfg/korinbo/korinbo.ini"},
        {"/usr/local/bin/korinbo.ini", true, "/cfg/korinbo/korinbo.ini"},
        {"/usrx/korinbo.ini", true, "/usrx/korinbo.ini"},
        {"/opt/korinbo/reader.ini", false, "/cfg/korinbo/reader.ini"},
    };
    for (const Case& c : cases) {
      QCOMPARE(QString::fromStdString(ChooseSettingsFile(c.program_ini, c.writable, "/cfg").string()),
               QString::fromLatin1(c.expected));
    }
    // The test program's build folder can be written.
    QCOMPARE(UserSettingsFile(), SettingsFilePath());
  }

  void PortalTriggersNameModifiersAndXkbKeys() {
    const std::pair<int, const char*> cases[] = {
        {kShortCutCtrl | kShortCutAlt | 'K', "CTRL+ALT+k"},
        {kShortCutShift | 0x70, "SHIFT+F1"},
        {kShortCutCtrl | kShortCutShift | kShortCutAlt | '5', "CTRL+ALT+SHIFT+5"},
        {kShortCutAlt | 0xBA, "ALT+semicolon"},
        {kShortCutCtrl | 0x20, "CTRL+space"},
        {kShortCutCtrl | 0x60, "CTRL+KP_0"},
        {kShortCutCtrl | 0xFF, ""},  // a code without a key
        {0, ""},
    };
    for (const auto& [value, trigger] : cases) {
      QCOMPARE(PortalTrigger(static_cast<TShortCut>(value)), QString::fromLatin1(trigger));
    }
  }

  void ALaterStartFindsTheDirectoryTakenAndHandsItsRequestOver() {
    test::TempDir dir;
    std::string holder;
    auto first = SingleInstance::Claim(dir.path(), holder);
    QVERIFY(first != nullptr);
    QVERIFY(first->listening());
    std::vector<SingleInstance::Request> received;
    first->SetHandler([&received](SingleInstance::Request request) { received.push_back(request); });

    QVERIFY(SingleInstance::Claim(dir.path(), holder) == nullptr);
    QCOMPARE(QString::fromStdString(holder), QStringLiteral("korinbo %1").arg(::getpid()));
    // The sender blocks on its socket; the running window answers from its event loop.
    for (const auto request : {SingleInstance::Request::kToggle, SingleInstance::Request::kShow}) {
      auto sent = std::async(std::launch::async, [&dir, request] {
        return SingleInstance::Send(dir.path(), request, std::chrono::seconds(30));
      });
      QTRY_VERIFY_WITH_TIMEOUT(sent.wait_for(std::chrono::seconds(0)) == std::future_status::ready, 30000);
      QVERIFY(sent.get());
    }
    QCOMPARE(received, (std::vector{SingleInstance::Request::kToggle, SingleInstance::Request::kShow}));

    // Another directory is another window's.
    test::TempDir other;
    QVERIFY(SingleInstance::Claim(other.path(), holder) != nullptr);

    // Only the user may connect, and the socket goes with the window.
    const std::filesystem::path socket_file = SingleInstance::ServerName(dir.path()).toStdString();
    QCOMPARE(std::filesystem::status(socket_file).permissions() & std::filesystem::perms::all,
             std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    first.reset();
    QVERIFY(!std::filesystem::exists(std::filesystem::symlink_status(socket_file)));
  }

  void NoAnswerWithoutARunningWindowAndGarbageIsRefused() {
    test::TempDir dir;
    QVERIFY(!SingleInstance::Send(dir.path(), SingleInstance::Request::kShow, std::chrono::milliseconds(300)));
    std::string holder;
    const auto first = SingleInstance::Claim(dir.path(), holder);
    QVERIFY(first != nullptr);
    int handled = 0;
    first->SetHandler([&handled](SingleInstance::Request) { ++handled; });
    // The window closes a connection whose request it does not know, or that never ends its line.
    for (const std::string& sent : {std::string("quit now\n"), std::string(5000, 'x')}) {
      const FileDescriptor socket = ConnectedTo(dir.path());
      QVERIFY(socket.ok());
      QCOMPARE(::send(socket.get(), sent.data(), sent.size(), MSG_NOSIGNAL), static_cast<ssize_t>(sent.size()));
      char byte = 0;
      QTRY_COMPARE_WITH_TIMEOUT(::read(socket.get(), &byte, 1), ssize_t{0}, 10000);
    }
    QCOMPARE(handled, 0);
    // A caller that sends nothing holds up nobody else.
    const FileDescriptor silent = ConnectedTo(dir.path());
    QVERIFY(silent.ok());
    auto sent = std::async(std::launch::async, [&dir] {
      return SingleInstance::Send(dir.path(), SingleInstance::Request::kShow, std::chrono::seconds(30));
    });
    QTRY_VERIFY_WITH_TIMEOUT(sent.wait_for(std::chrono::seconds(0)) == std::future_status::ready, 30000);
    QVERIFY(sent.get());
    QCOMPARE(handled, 1);
  }

  // A window that crashed leaves its socket file; the next start takes the directory over.
  void ASocketLeftByACrashIsTakenOver() {
    test::TempDir dir;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    QVERIFY(fd >= 0);
    const sockaddr_un address = SocketAddressOf(dir.path());
    QCOMPARE(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ::close(fd);  // the file stays, nobody listens
    std::string holder;
    const auto instance = SingleInstance::Claim(dir.path(), holder);
    QVERIFY(instance != nullptr);
    QVERIFY(instance->listening());
  }

  void BringingForwardRestoresFromTheTrayAndToggleActsAsTheHotkey() {
    test::TempDir dir;
    const auto started = Started(dir.path());
    Program& program = *started;
    QVERIFY(QTest::qWaitForWindowExposed(&program.window()));
    program.tray().HideToTray();
    program.BringForward();
    QVERIFY(!program.tray().HiddenInTray());
    QTRY_VERIFY(program.window().isVisible() && !program.window().isMinimized());
    program.Toggle();
    QVERIFY(program.tray().HiddenInTray());
    program.Toggle();
    QVERIFY(!program.tray().HiddenInTray());
    QTRY_VERIFY(program.window().isVisible());
    // X11 has global hotkeys: the dialog has no note about them.
    program.dialog().N10Click();
    QTRY_VERIFY(program.dialog().isVisible());
    auto* note = program.dialog().group_box2()->findChild<QLabel*>(QStringLiteral("HotkeyNote"));
    QVERIFY(note != nullptr);
    QVERIFY(!note->isVisible());
    program.dialog().Button2Click();
  }

  // The guide is no row: the list stays empty, and it goes once a site exists or a row comes.
  void TheGuideShowsInTheEmptyListWhileThereIsNoSite() {
    test::TempDir dir;
    const auto started = Started(dir.path());
    Program& program = *started;
    QVERIFY(QTest::qWaitForWindowExposed(&program.window()));
    QTreeWidget* list = program.window().headline_list();
    auto* guide = list->viewport()->findChild<SiteFolderGuide*>();
    QVERIFY(guide != nullptr);
    QTRY_VERIFY(guide->isVisible());
    QCOMPARE(list->topLevelItemCount(), 0);
    QVERIFY(guide->text().contains(QString::fromStdString((dir.path() / "newsurl").string())));

    program.window().fetch_window().AppendRow("row");
    program.window().fetch_window().ShowProgress();
    QTRY_VERIFY(!guide->isVisible());
    program.window().fetch_window().ClearList();
    QTRY_VERIFY(guide->isVisible());

    dir.Write("newsurl/c_s.txt", "url=http://127.0.0.1/\r\n");
    program.window().Reload();
    QTRY_VERIFY(!guide->isVisible());
    QCOMPARE(list->topLevelItemCount(), 0);
  }
};

}  // namespace korinbo

QTEST_MAIN(korinbo::StartOptionsTest)
#include "start_options_test.moc"
