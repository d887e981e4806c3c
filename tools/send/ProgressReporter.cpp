#include "ProgressReporter.h"

namespace movrin {
namespace {

std::string Duration(double seconds) {
  const auto total = static_cast<long long>(seconds + 0.5);
  char text[32];
  if (total >= 3600) {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", total / 3600, total / 60 % 60,
                  total % 60);
  } else {
    std::snprintf(text, sizeof text, "%lld:%02lld", total / 60, total % 60);
  }
  return text;
}

std::string Rate(double bytesPerSecond) {
  char text[32];
  if (bytesPerSecond >= 1024 * 1024) {
    std::snprintf(text, sizeof text, "%.1f MiB/s", bytesPerSecond / (1024 * 1024));
  } else if (bytesPerSecond >= 1024) {
    std::snprintf(text, sizeof text, "%.1f KiB/s", bytesPerSecond / 1024);
  } else {
    std::snprintf(text, sizeof text, "%.0f B/s", bytesPerSecond);
  }
  return text;
}

}  // namespace

std::string FormatProgress(const ProgressSnapshot& s) {
  const std::int64_t percent = s.blockCount > 0 ? s.blocksSent * 100 / s.blockCount : 0;
  std::string line = std::to_string(s.blocksSent) + "/" + std::to_string(s.blockCount) +
                     " blocks " + std::to_string(percent) + "%";
  const double seconds = std::chrono::duration<double>(s.elapsed).count();
  if (s.bytesSent > 0 && seconds > 0) {
    const double rate = static_cast<double>(s.bytesSent) / seconds;
    line += "  " + Rate(rate);
    const double left = static_cast<double>(s.bytesTotal - s.bytesSent) / rate;
    line += "  " + Duration(left > 0 ? left : 0) + " left";
  }
  return line;
}

ProgressReporter::ProgressReporter(std::FILE* out, bool terminal)
    : out_(out), terminal_(terminal) {}

void ProgressReporter::Start(std::int64_t blockCount, std::int64_t bytesTotal) {
  snapshot_ = ProgressSnapshot{};
  snapshot_.blockCount = blockCount;
  snapshot_.bytesTotal = bytesTotal;
  start_ = std::chrono::steady_clock::now();
  started_ = true;
  lastTenth_ = -1;
  Print(true);
}

void ProgressReporter::Update(std::int64_t blocksSent, std::int64_t bytesSent) {
  if (!started_) {
    return;
  }
  snapshot_.blocksSent = blocksSent;
  snapshot_.bytesSent = bytesSent;
  Print(blocksSent == snapshot_.blockCount);
}

void ProgressReporter::Finish() {
  if (lineOpen_) {
    std::fputc('\n', out_);
    std::fflush(out_);
    lineOpen_ = false;
  }
  started_ = false;
}

void ProgressReporter::Print(bool force) {
  const auto now = std::chrono::steady_clock::now();
  snapshot_.elapsed = now - start_;
  if (terminal_) {
    // A redraw per block would cost more than the block on a fast link.
    if (!force && now - lastDraw_ < std::chrono::milliseconds(100)) {
      return;
    }
    lastDraw_ = now;
    std::fprintf(out_, "\r%s\033[K", FormatProgress(snapshot_).c_str());
    lineOpen_ = true;
  } else {
    const std::int64_t tenth =
        snapshot_.blockCount > 0 ? snapshot_.blocksSent * 10 / snapshot_.blockCount : 10;
    if (tenth == lastTenth_) {
      return;
    }
    lastTenth_ = tenth;
    std::fprintf(out_, "%s\n", FormatProgress(snapshot_).c_str());
  }
  std::fflush(out_);
}

}  // namespace movrin
