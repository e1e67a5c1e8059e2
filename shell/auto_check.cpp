#include "auto_check.h"

#include <utility>

namespace korinbo {

AutoCheck::AutoCheck(SiteHealth& health, JobSource job_source, Checked checked, QObject* parent)
    : QObject(parent), health_(health), job_source_(std::move(job_source)), checked_(std::move(checked)) {
  connect(&timer_, &QTimer::timeout, this, &AutoCheck::Tick);
}

AutoCheck::~AutoCheck() { StopWorker(); }

void AutoCheck::Configure(bool on, int minutes) {
  if (!on) {
    on_ = false;
    timer_.stop();
    StopWorker();
    return;
  }
  const int interval_ms = minutes * 60 * 1000;
  if (on_ && interval_ms == interval_ms_) return;
  on_ = true;
  interval_ms_ = interval_ms;
  timer_.start(interval_ms_);
}

void AutoCheck::Tick() {
  if (!on_ || running()) return;
  std::optional<Job> job = job_source_();
  if (!job) {
    timer_.start(kRetryMs);
    return;
  }
  timer_.start(interval_ms_);
  mark_ = health_.Mark();
  stop_ = false;
  const std::uint64_t generation = ++generation_;
  worker_ = std::thread([this, generation, job = std::move(*job)] {
    std::vector<SiteCheck> checks;
    try {
      Downloader downloader;
      checks = CheckSites(job.start_dir, job.file_names, job.options, downloader, [this] { return stop_.load(); });
    } catch (...) {
      // A history file that cannot be read: this check finds nothing; the next one tries again.
      checks.clear();
    }
    QMetaObject::invokeMethod(
        this,
        [this, generation, checks = std::move(checks)] {
          // A check that was stopped has been joined already, and its result is no longer wanted.
          if (generation != generation_ || !worker_.joinable()) return;
          worker_.join();
          Finish(checks);
        },
        Qt::QueuedConnection);
  });
}

void AutoCheck::Finish(const std::vector<SiteCheck>& checks) {
  std::vector<Fresh> fresh;
  const SiteHealth::Clock::time_point now = SiteHealth::Clock::now();
  for (const SiteCheck& check : checks) {
    for (NewHeadline& headline : health_.RecordCheck(check, mark_, now)) {
      fresh.push_back(Fresh{check.file_name, std::move(headline)});
    }
  }
  if (checked_) checked_(fresh);
}

void AutoCheck::StopWorker() {
  if (!worker_.joinable()) return;
  stop_ = true;
  worker_.join();
}

}  // namespace korinbo
