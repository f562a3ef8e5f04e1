// The window's update from the web on a worker thread.
#include "client_ui/update_run.h"

#include <utility>

#include "client/client_cache.h"

namespace qx::ui {

WebInstallSettings WindowUpdateSettings(std::function<void(const FetchProgress&)> progress,
                                        std::shared_ptr<const std::atomic<bool>> cancelled) {
  WebInstallSettings settings;
  // The transfers end at their next look at the flag (about a tenth of a
  // second); no more progress is shown meanwhile: the bar stays where Cancel
  // found it until the run ends.
  settings.fetch.cancelled = [cancelled] { return cancelled->load(); };
  settings.callbacks.progress = [progress = std::move(progress),
                                 cancelled](const FetchProgress& reached) {
    if (!cancelled->load()) {
      progress(reached);
    }
  };
  return settings;
}

UpdateRun::UpdateRun(std::string name, QObject* parent) : QObject(parent), name_(std::move(name)) {}

UpdateRun::~UpdateRun() {
  if (thread_) {
    Cancel();
    thread_->wait();
  }
}

void UpdateRun::Start() {
  thread_.reset(QThread::create([this] { Run(); }));
  connect(thread_.get(), &QThread::finished, this, &UpdateRun::finished);
  thread_->start();
}

void UpdateRun::Cancel() {
  cancelled_->store(true);
}

bool UpdateRun::running() const {
  return thread_ && !thread_->isFinished();
}

void UpdateRun::Run() {
  // Nothing the update does may reach a window from this thread.
  const ScopedThreadUserInterface boxes(deferred_);
  std::string error;
  const std::unique_ptr<ClientCache> cache = ClientCache::Open([this] { emit waiting(); }, &error);
  if (!cache) {
    outcome_.name = name_;
    outcome_.problems.push_back(error);
    return;
  }
  const WebInstallSettings settings = WindowUpdateSettings(
      [this](const FetchProgress& reached) {
        emit progressed(reached.bytes_done, reached.bytes_total, reached.files_done,
                        reached.files_total);
      },
      cancelled_);
  outcome_ = UpdateFromWeb(*cache, name_, settings);
}

}  // namespace qx::ui
