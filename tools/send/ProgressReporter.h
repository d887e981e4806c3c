#pragma once

// Shows how far a transfer is: one line redrawn in place on a terminal, plain lines at every
// tenth otherwise, so logs stay short.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace movrin {

struct ProgressSnapshot {
  std::int64_t blocksSent = 0;
  std::int64_t blockCount = 0;
  std::int64_t bytesSent = 0;  // block messages as sent on the wire
  std::int64_t bytesTotal = 0;
  std::chrono::steady_clock::duration elapsed{};  // since the ready note
};

// "12/75 blocks  16% ..." without a line end; rate and time left once something was sent.
[[nodiscard]] std::string FormatProgress(const ProgressSnapshot& snapshot);

class ProgressReporter {
 public:
  ProgressReporter(std::FILE* out, bool terminal);

  void Start(std::int64_t blockCount, std::int64_t bytesTotal);
  void Update(std::int64_t blocksSent, std::int64_t bytesSent);
  // Ends the redrawn line so that messages that follow start on their own line.
  void Finish();

 private:
  void Print(bool force);

  std::FILE* out_;
  bool terminal_;
  bool started_ = false;
  bool lineOpen_ = false;
  ProgressSnapshot snapshot_;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point lastDraw_;
  std::int64_t lastTenth_ = -1;
};

}  // namespace movrin
