#pragma once

// Test support for tests of every layer: ScriptedUserInterface, a user
// interface that records boxes and beeps and answers from a queue.

#include <deque>
#include <string>
#include <vector>

#include "core/platform/user_interface.h"

namespace qx {

// Test double: records every box and beep, answers from a queue (then from a
// default), and counts event deliveries.
class ScriptedUserInterface : public UserInterface {
 public:
  struct Event {
    bool is_beep = false;
    BeepKind beep = BeepKind::kSimple;
    MessageBoxRequest box;
  };

  void QueueAnswer(BoxAnswer answer) { answers_.push_back(answer); }
  void SetDefaultAnswer(BoxAnswer answer) { default_answer_ = answer; }

  void Beep(BeepKind kind) override;
  BoxAnswer ShowMessageBox(const MessageBoxRequest& request) override;
  void DeliverPendingEvents() override { ++deliveries_; }

  const std::vector<MessageBoxRequest>& boxes() const { return boxes_; }
  const std::vector<Event>& events() const { return events_; }
  int beeps() const { return beeps_; }
  int deliveries() const { return deliveries_; }
  // Texts of all boxes shown, in order.
  std::vector<std::string> texts() const;
  void Clear();

 private:
  std::deque<BoxAnswer> answers_;
  BoxAnswer default_answer_ = BoxAnswer::kOk;
  std::vector<MessageBoxRequest> boxes_;
  std::vector<Event> events_;
  int beeps_ = 0;
  int deliveries_ = 0;
};

}  // namespace qx
