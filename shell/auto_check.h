#pragma once
// The background check of the favourites: a timer, and each check on a thread of its own with a
// downloader of its own, so that the window never waits for it. What the thread gets is copied
// when the check begins; its results come back to the GUI thread, go into the health record there,
// and are handed on. A check never runs twice at once, and destroying the object ends a running
// check at once.
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <QObject>
#include <QTimer>

#include "korinbo/download.h"
#include "korinbo/site_check.h"
#include "korinbo/site_health.h"

namespace korinbo {

class AutoCheck : public QObject {
  Q_OBJECT

 public:
  // While a check may not begin (a fetch runs, a dialog or a box is open) it is tried again this
  // often until it can.
  static constexpr int kRetryMs = 15000;

  struct Job {
    std::filesystem::path start_dir;
    std::vector<std::string> file_names;
    DownloadOptions options;
  };
  // Asked on the GUI thread when a check is due: what to check, or nullopt when it may not begin now.
  using JobSource = std::function<std::optional<Job>()>;
  struct Fresh {
    std::string file_name;
    NewHeadline headline;
  };
  // After the results are in the health record: the headlines that were not new at the previous
  // check, in the order of the job's sites.
  using Checked = std::function<void(const std::vector<Fresh>& fresh)>;

  AutoCheck(SiteHealth& health, JobSource job_source, Checked checked, QObject* parent = nullptr);
  ~AutoCheck() override;
  AutoCheck(const AutoCheck&) = delete;
  AutoCheck& operator=(const AutoCheck&) = delete;

  // On: a check every `minutes` minutes; the timer starts again only when it was off or the
  // minutes change. Off: no more checks, and a running one ends without a result.
  void Configure(bool on, int minutes);
  // The timer's call: a check begins unless one runs or the job source says not now.
  void Tick();

  bool on() const { return on_; }
  bool running() const { return worker_.joinable(); }
  const QTimer& timer() const { return timer_; }

 private:
  void Finish(const std::vector<SiteCheck>& checks);
  void StopWorker();

  SiteHealth& health_;
  JobSource job_source_;
  Checked checked_;
  QTimer timer_;
  bool on_ = false;
  int interval_ms_ = 0;
  std::thread worker_;
  std::atomic<bool> stop_{false};
  std::uint64_t mark_ = 0;        // the health record's mark when the running check began
  std::uint64_t generation_ = 0;  // counts the checks begun, so that a stopped one's result is known
};

}  // namespace korinbo
