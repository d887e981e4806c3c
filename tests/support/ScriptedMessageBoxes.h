#pragma once

// Answers message boxes without a person: records each box and returns answers from a script.
// A hook runs while the "box is open", where a real box would run its nested event loop.

#include <QString>
#include <deque>
#include <functional>
#include <vector>

#include "MessageBoxes.h"

namespace movrin::test {

class ScriptedMessageBoxes final : public MessageBoxPresenter {
 public:
  struct Shown {
    QString text;
    QString caption;  // null when the caller gave none
    unsigned style = 0;
  };

  int Show(QWidget* /*owner*/, const QString& text, const QString& caption,
           unsigned style) override {
    shown_.push_back({text, caption, style});
    if (whileOpen_) {
      whileOpen_(shown_.back());
    }
    if (answers_.empty()) {
      return (style & 0xF) == kMessageBoxYesNo ? kResultYes : kResultOk;
    }
    const int answer = answers_.front();
    answers_.pop_front();
    return answer;
  }

  // Answers to give, in order; once they run out, Yes for Yes/No boxes and OK otherwise.
  void Answer(int result) { answers_.push_back(result); }
  // Runs while each box is open, like the nested loop of a real box.
  void WhileOpen(std::function<void(const Shown&)> hook) { whileOpen_ = std::move(hook); }

  [[nodiscard]] const std::vector<Shown>& shown() const { return shown_; }
  void Clear() { shown_.clear(); }

 private:
  std::vector<Shown> shown_;
  std::deque<int> answers_;
  std::function<void(const Shown&)> whileOpen_;
};

}  // namespace movrin::test
