#pragma once

// An update from the web for the client's window: UpdateFromWeb on a worker
// thread of its own, which takes the client's lock itself, with its progress
// posted to the window's thread and Cancel as a flag the fetch reads. Client
// window.

#include <QObject>
#include <QThread>
#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "client/web_install.h"
#include "core/platform/user_interface.h"

namespace qx::ui {

// The settings of an update the window runs: the fetch's progress goes to
// |progress| (on the worker thread), and |cancelled| is set once the user
// cancelled.
WebInstallSettings WindowUpdateSettings(std::function<void(const FetchProgress&)> progress,
                                        std::shared_ptr<const std::atomic<bool>> cancelled);

class UpdateRun : public QObject {
  Q_OBJECT

 public:
  explicit UpdateRun(std::string name, QObject* parent = nullptr);
  // Cancels a run still going and waits for its thread.
  ~UpdateRun() override;
  UpdateRun(const UpdateRun&) = delete;
  UpdateRun& operator=(const UpdateRun&) = delete;

  void Start();
  // Asks the run to stop; the cache stays as it was when it does.
  void Cancel();
  bool cancelled() const { return cancelled_->load(); }
  bool running() const;
  const std::string& name() const { return name_; }
  // What the update did; read once finished() came.
  const WebInstallOutcome& outcome() const { return outcome_; }
  // The boxes and beeps the worker's code asked for, kept for the window's
  // thread to show.
  DeferredUserInterface& deferred() { return deferred_; }

 signals:
  void progressed(qint64 bytes_done, qint64 bytes_total, int files_done, int files_total);
  // Another command holds the cache's lock.
  void waiting();
  void finished();

 private:
  void Run();

  std::string name_;
  std::shared_ptr<std::atomic<bool>> cancelled_ = std::make_shared<std::atomic<bool>>(false);
  WebInstallOutcome outcome_;
  DeferredUserInterface deferred_;
  std::unique_ptr<QThread> thread_;
};

}  // namespace qx::ui
