// The window at work, on an X display (run under xvfb-run without one): a category of 100 sites of
// 200 headlines each from a loopback server, with and without a 100,000-line visit log; the same
// category with 100 ms per page; opening headlines; rebuilding a tree of 10,000 site files; and
// the program's start-up on the demo. Each figure is printed beside its reference, measured in
// the same run: korinbo-fetch for the category, the fetch without the visit log, the engine's
// tree building, and the program before a change when KORINBO_BENCH_BEFORE names its binary.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <poll.h>
#include <string>
#include <vector>

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QTimer>
#include <QTreeWidget>

#include "bench_support.h"
#include "korinbo/codepage.h"
#include "korinbo/httpd/server.h"
#include "korinbo/site_tree.h"
#include "main_window.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using korinbo::MainWindow;

constexpr int kSites = 100;
constexpr int kHeadlines = 200;
constexpr int kVisitLines = 100000;
constexpr int kRuns = 5;

double Ms(Clock::duration duration) { return std::chrono::duration<double, std::milli>(duration).count(); }

double Median(std::vector<double> values) {
  if (values.empty()) return -1;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string Site(int site) {
  char name[16];
  std::snprintf(name, sizeof name, "s%03d", site);
  return name;
}

// Serves the event loop until `ms` have passed, so that the window is mapped and painted.
void Settle(int ms) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

// The start directory of the category: 100 site files on one server.
struct Category {
  std::filesystem::path dir;
  std::unique_ptr<korinbo::httpd::Server> server;
  std::string visit_log;  // 100,000 lines, 1 in 50 of them links of the category
};

Category MakeCategory(const std::filesystem::path& dir, std::chrono::milliseconds delay) {
  Category category{dir, std::make_unique<korinbo::httpd::Server>(), {}};
  const std::string headline = korinbo::Sjis("見出し");
  const std::string remark = korinbo::Sjis("備考");
  for (int site = 1; site <= kSites; ++site) {
    std::string page = "<html><body><ul>\r\n";
    for (int i = 1; i <= kHeadlines; ++i) {
      const std::string n = std::to_string(i);
      page += "<li><a href=\"a" + n + ".html\">" + headline + n + " " + Site(site) + "</a><span>" + remark + n +
              "</span></li>\r\n";
    }
    page += "</ul></body></html>\r\n";
    korinbo::httpd::Response response = korinbo::httpd::Response::Text(page);
    response.delay = delay;
    response.write_sizes = {std::size_t{1} << 20};  // one write, sent at once
    const std::string target = "/" + Site(site) + "/index.html";
    category.server->Route(target, response);
    WriteFile(dir / "newsurl" / ("bench_" + Site(site) + ".txt"),
              "url =" + category.server->Url(target) +
                  "\r\nstr_start =<ul>\r\nstr_end =</ul>\r\n"
                  "anc_form =<li><a href=\"([^\"]*)\">([^<]*)</a><span>([^<]*)</span></li>\r\n"
                  "jump_url =$1\r\ncaptions =$2\r\nremark =$3\r\n");
  }
  // Old links as long as the category's, and every tenth headline of the category opened.
  const std::string origin = category.server->Url("");
  for (int line = 0; line < kVisitLines; ++line) {
    const int site = line / kHeadlines;
    const int i = line % kHeadlines + 1;
    const bool visited = line % 50 == 0;
    category.visit_log += origin + "/" + (visited ? Site(1 + line % kSites) : "v" + Site(site).substr(1)) + "/a" +
                          std::to_string(i) + ".html\r\n";
  }
  return category;
}

std::unique_ptr<MainWindow> OpenWindow(const std::filesystem::path& dir) {
  auto window = std::make_unique<MainWindow>(dir, dir / "korinbo.ini");
  window->SetMessageBoxHook([](MainWindow::BoxKind, const QString&, const QString& text) {
    std::fprintf(stderr, "message box: %s\n", text.toUtf8().constData());
  });
  window->SetUrlOpener([](const QUrl&) {});
  window->RunShowing();
  Settle(300);
  return window;
}

QTreeWidgetItem* Root(const MainWindow& window, const char* text) {
  QTreeWidget* tree = window.site_tree();
  for (int i = 0; i < tree->topLevelItemCount(); ++i) {
    if (tree->topLevelItem(i)->text(0) == QString::fromUtf8(text)) return tree->topLevelItem(i);
  }
  return nullptr;
}

// One category fetch as the user sees it: its time, the longest time the event loop was not
// served (a 1 ms timer that fires whenever it is), the list's repaints, and when the first ten
// sites had all their rows listed.
struct FetchFigures {
  double ms = 0;
  double longest_stretch_ms = 0;
  int repaints = 0;
  double ten_sites_ms = -1;
  int sites_at_500ms = -1;
  int sites_at_1000ms = -1;
  bool complete = false;
};

class PaintCounter : public QObject {
 public:
  int paints = 0;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++paints;
    return QObject::eventFilter(watched, event);
  }
};

FetchFigures FetchCategory(MainWindow& window) {
  std::filesystem::remove(window.start_directory() / "logdata.txt");
  window.site_tree()->setCurrentItem(Root(window, "bench"));
  QTreeWidget* list = window.headline_list();
  PaintCounter painter;
  list->viewport()->installEventFilter(&painter);
  FetchFigures figures;
  const Clock::time_point start = Clock::now();
  Clock::time_point last = start;
  auto sites_listed = [list] { return list->topLevelItemCount() / (kHeadlines + 1); };
  QTimer tick;
  tick.setTimerType(Qt::PreciseTimer);
  tick.setInterval(1);
  QObject::connect(&tick, &QTimer::timeout, [&] {
    const Clock::time_point now = Clock::now();
    figures.longest_stretch_ms = std::max(figures.longest_stretch_ms, Ms(now - last));
    last = now;
    const double at = Ms(now - start);
    const int sites = sites_listed();
    if (figures.ten_sites_ms < 0 && sites >= 10) figures.ten_sites_ms = at;
    if (at < 500) figures.sites_at_500ms = sites;
    if (at < 1000) figures.sites_at_1000ms = sites;
  });
  tick.start();
  window.FetchCategoryCommand();
  const Clock::time_point end = Clock::now();
  tick.stop();
  list->viewport()->removeEventFilter(&painter);
  figures.longest_stretch_ms = std::max(figures.longest_stretch_ms, Ms(end - last));
  figures.ms = Ms(end - start);
  figures.repaints = painter.paints;
  figures.complete = list->topLevelItemCount() == kSites * (kHeadlines + 1);
  if (figures.ten_sites_ms < 0) figures.ten_sites_ms = figures.ms;
  return figures;
}

struct Summary {
  double ms, longest_stretch_ms, repaints, ten_sites_ms, sites_at_500ms, sites_at_1000ms;
};

Summary Summarise(const std::vector<FetchFigures>& runs) {
  auto median = [&runs](auto field) {
    std::vector<double> values;
    for (const FetchFigures& run : runs) values.push_back(static_cast<double>(run.*field));
    return Median(values);
  };
  return {median(&FetchFigures::ms),           median(&FetchFigures::longest_stretch_ms),
          median(&FetchFigures::repaints),     median(&FetchFigures::ten_sites_ms),
          median(&FetchFigures::sites_at_500ms), median(&FetchFigures::sites_at_1000ms)};
}

// The most places by which a site's request was overtaken by a later site's. Pages asked for in
// tree order, six at a time, arrive at most five places late: the connections race.
int MostPlacesOvertaken(const korinbo::httpd::Server& server) {
  int most = 0;
  int latest = 0;
  for (const auto& request : server.Requests()) {
    const int site = std::atoi(request.target.c_str() + 2);
    most = std::max(most, latest - site);
    latest = std::max(latest, site);
  }
  return most;
}

double KorinboFetchMs(const std::filesystem::path& dir) {
  std::filesystem::remove(dir / "logdata.txt");
  const std::string command = std::string(KORINBO_FETCH_PROGRAM) + " --dir '" + dir.string() +
                              "' category bench >/dev/null 2>&1";
  return korinbo::bench::TimeCommand(command, 1) * 1000;
}

// The time to open a headline: the visit log gains its link, the row turns read.
double OpenHeadlineMs(MainWindow& window, int row) {
  QTreeWidget* list = window.headline_list();
  list->setCurrentItem(list->topLevelItem(row));
  const Clock::time_point start = Clock::now();
  window.OpenSelectedHeadline();
  return Ms(Clock::now() - start);
}

// The program started in `dir` until its window is mapped, and its resident memory once idle.
struct StartFigures {
  double mapped_ms = -1;
  double idle_rss_mb = -1;
};

double ResidentMb(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atof(line.c_str() + 6) / 1024;
  }
  return -1;
}

StartFigures StartProgram(const std::string& program, const std::filesystem::path& dir) {
  StartFigures figures;
  xcb_connection_t* x = xcb_connect(nullptr, nullptr);
  if (xcb_connection_has_error(x) != 0) {
    xcb_disconnect(x);
    return figures;
  }
  const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(x)).data->root;
  const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
  xcb_change_window_attributes(x, root, XCB_CW_EVENT_MASK, &mask);
  xcb_flush(x);

  const std::string cwd = std::filesystem::current_path().string();
  std::filesystem::current_path(dir);
  char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
  pid_t pid = 0;
  const Clock::time_point start = Clock::now();
  const bool started = posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, environ) == 0;
  std::filesystem::current_path(cwd);
  while (started && figures.mapped_ms < 0 && Clock::now() - start < std::chrono::seconds(10)) {
    pollfd fd{xcb_get_file_descriptor(x), POLLIN, 0};
    poll(&fd, 1, 100);
    while (xcb_generic_event_t* event = xcb_poll_for_event(x)) {
      if ((event->response_type & 0x7f) == XCB_MAP_NOTIFY) figures.mapped_ms = Ms(Clock::now() - start);
      std::free(event);
    }
  }
  xcb_disconnect(x);
  if (!started) return figures;
  usleep(1500 * 1000);
  figures.idle_rss_mb = ResidentMb(pid);
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return figures;
}

void CopyDemo(const std::filesystem::path& to) {
  const std::filesystem::path demo = std::filesystem::path(KORINBO_SOURCE_DIR) / "demo";
  std::filesystem::create_directories(to);
  std::filesystem::copy(demo / "newsurl", to / "newsurl", std::filesystem::copy_options::recursive);
  for (const char* file : {"favolite.txt", "logdata.txt", "visitdata.txt"}) std::filesystem::copy_file(demo / file, to / file);
}

int status = 0;

void Line(const char* goal, const char* figure, double value, const char* unit, const char* reference,
          double reference_value, double target_ratio, double target_value = 0) {
  std::printf("%-3s %-46s %9.2f %-3s", goal, figure, value, unit);
  if (reference != nullptr && reference_value > 0) {
    const double ratio = value / reference_value;
    std::printf("  %-34s %9.2f %-3s ratio %6.3f", reference, reference_value, unit, ratio);
    if (target_ratio > 0) {
      const bool met = ratio < target_ratio;
      if (!met) status = 1;
      std::printf(" (target <%.2f)%s", target_ratio, met ? "" : " MISSED");
    }
  }
  if (target_value > 0) {
    const bool met = value < target_value;
    if (!met) status = 1;
    std::printf(" (target <%.0f %s)%s", target_value, unit, met ? "" : " MISSED");
  }
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  // Parts named on the command line run alone: category, order, tree, start.
  const QStringList parts = QCoreApplication::arguments().mid(1);
  auto wanted = [&parts](const char* part) { return parts.isEmpty() || parts.contains(QString::fromUtf8(part)); };
  char pattern[] = "/tmp/korinbo-bench-window-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 2;
  const std::filesystem::path work = pattern;

  // Goals 1, 2 and 4: the category at full speed.
  if (wanted("category")) {
    Category category = MakeCategory(work / "category", std::chrono::milliseconds(0));
    auto window = OpenWindow(category.dir);
    std::vector<FetchFigures> with_log, without_log;
    std::vector<double> tool_with_log, tool_without_log;
    for (int run = 0; run < kRuns; ++run) {
      // In turns, so that a slow spell of the machine falls on every case alike.
      std::filesystem::remove(category.dir / "visitdata.txt");
      without_log.push_back(FetchCategory(*window));
      tool_without_log.push_back(KorinboFetchMs(category.dir));
      WriteFile(category.dir / "visitdata.txt", category.visit_log);
      with_log.push_back(FetchCategory(*window));
      tool_with_log.push_back(KorinboFetchMs(category.dir));
    }
    for (const auto* runs : {&with_log, &without_log}) {
      for (const FetchFigures& run : *runs) {
        if (!run.complete) {
          std::fprintf(stderr, "a category fetch did not list every row\n");
          status = 1;
        }
      }
    }
    const Summary log = Summarise(with_log);
    const Summary no_log = Summarise(without_log);
    std::vector<double> opens, opens_without_log;
    for (int row = 1; row <= 20; ++row) opens.push_back(OpenHeadlineMs(*window, row));
    std::filesystem::remove(category.dir / "visitdata.txt");
    for (int row = 21; row <= 40; ++row) opens_without_log.push_back(OpenHeadlineMs(*window, row));

    std::printf("\n%d sites x %d headlines on one loopback server; medians of %d runs\n", kSites, kHeadlines, kRuns);
    Line("1", "longest stretch without events, 100k visit log", log.longest_stretch_ms, "ms", nullptr, 0, 0, 50);
    Line("1", "longest stretch without events, no visit log", no_log.longest_stretch_ms, "ms", nullptr, 0, 0, 50);
    Line("1", "repaints of the list during the fetch", log.repaints, "", nullptr, 0, 0);
    Line("2", "window category fetch, no visit log", no_log.ms, "ms", "korinbo-fetch, no visit log",
         Median(tool_without_log), 1.3);
    Line("2", "window category fetch, 100k visit log", log.ms, "ms", "korinbo-fetch, 100k visit log",
         Median(tool_with_log), 1.3);
    Line("4", "window category fetch, 100k visit log", log.ms, "ms", "window, no visit log", no_log.ms, 1.2);
    Line("4", "korinbo-fetch, 100k visit log", Median(tool_with_log), "ms", "korinbo-fetch, no visit log",
         Median(tool_without_log), 1.2);
    Line("4", "opening a headline, 100k visit log", Median(opens), "ms", "with a new visit log",
         Median(opens_without_log), 0, 5);
  }

  // Goal 3: 100 ms per page, six connections to the one host.
  if (wanted("order")) {
    Category category = MakeCategory(work / "slow", std::chrono::milliseconds(100));
    auto window = OpenWindow(category.dir);
    std::vector<FetchFigures> runs;
    std::vector<double> overtaken;
    for (int run = 0; run < 3; ++run) {
      category.server->ClearRequests();
      runs.push_back(FetchCategory(*window));
      overtaken.push_back(MostPlacesOvertaken(*category.server));
    }
    const Summary slow = Summarise(runs);
    // Six pages at a time in tree order: the tenth page is there after two rounds.
    const double in_order_ms = 200;
    std::printf("\n%d sites with 100 ms per page, at most 6 connections; medians of 3 runs\n", kSites);
    Line("3", "first 10 sites listed after", slow.ten_sites_ms, "ms", "two rounds of 100 ms", in_order_ms, 2.0);
    Line("3", "sites listed at 0.5 s", slow.sites_at_500ms, "", nullptr, 0, 0);
    Line("3", "sites listed at 1.0 s", slow.sites_at_1000ms, "", nullptr, 0, 0);
    Line("3", "most places a request was overtaken", Median(overtaken), "", nullptr, 0, 0, 6);
    Line("1", "longest stretch without events, 100 ms pages", slow.longest_stretch_ms, "ms", nullptr, 0, 0, 50);
  }

  // Goal 5: 10,000 site files, 100 categories of 100 sites.
  if (wanted("tree")) {
    const std::filesystem::path dir = work / "tree";
    for (int c = 0; c < 100; ++c) {
      for (int s = 0; s < 100; ++s) {
        char name[32];
        std::snprintf(name, sizeof name, "c%d_%s.txt", c, Site(s).c_str());
        WriteFile(dir / "newsurl" / name, "url =http://127.0.0.1/\r\n");
      }
    }
    auto window = OpenWindow(dir);
    std::vector<double> window_ms, engine_ms;
    for (int run = 0; run < kRuns; ++run) {
      Clock::time_point start = Clock::now();
      window->RebuildSiteTree();
      window_ms.push_back(Ms(Clock::now() - start));
      start = Clock::now();
      const korinbo::SiteTree tree = korinbo::BuildSiteTree(dir, "");
      engine_ms.push_back(Ms(Clock::now() - start));
    }
    std::printf("\n10,000 site files; medians of %d runs\n", kRuns);
    Line("5", "the window's tree rebuilt", Median(window_ms), "ms", "the engine's tree built", Median(engine_ms), 0,
         30);
  }

  // Goal 6: the program on the demo.
  if (wanted("start")) {
    const char* before = std::getenv("KORINBO_BENCH_BEFORE");
    // More starts than the other parts' runs steady a median that a session bus's start swings.
    const char* wanted_starts = std::getenv("KORINBO_BENCH_STARTS");
    const int starts = wanted_starts != nullptr ? std::max(1, std::atoi(wanted_starts)) : kRuns;
    std::vector<double> mapped, rss, before_mapped, before_rss;
    for (int run = 0; run < starts; ++run) {
      const std::filesystem::path dir = work / ("demo" + std::to_string(run));
      CopyDemo(dir);
      const StartFigures now = StartProgram(KORINBO_PROGRAM, dir);
      mapped.push_back(now.mapped_ms);
      rss.push_back(now.idle_rss_mb);
      if (before != nullptr) {
        const std::filesystem::path before_dir = work / ("demo-before" + std::to_string(run));
        CopyDemo(before_dir);
        const StartFigures then = StartProgram(before, before_dir);
        before_mapped.push_back(then.mapped_ms);
        before_rss.push_back(then.idle_rss_mb);
      }
    }
    std::printf("\nthe program on the demo; medians of %d starts\n", starts);
    const char* reference = before != nullptr ? "the program before (KORINBO_BENCH_BEFORE)" : nullptr;
    Line("6", "start to a mapped window", Median(mapped), "ms", reference, Median(before_mapped), 0);
    Line("6", "idle resident memory", Median(rss), "MB", reference, Median(before_rss), 0);
  }

  std::filesystem::remove_all(work);
  return status;
}
