// ProgressBar: one line on stderr showing how far a transfer has got, redrawn a few times a second by a
// thread of its own while the bar lives, and erased when it goes. A bar that was shown leaves a summary
// line in its place when the transfer ended well (the bar goes out of scope normally, not through an
// exception). It draws only when stderr is a terminal, so scripts and logs never see it. The engine reports
// no byte counts, so the bar measures the transfer from the outside (see the meters below). Construct and
// destroy on one thread.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "platform/mutex.h"

namespace davfp::cli {

class ProgressBar {
 public:
  // bytesDone is called on the bar's thread; total may be unknown.
  ProgressBar(std::string label, std::optional<int64_t> total, std::function<int64_t()> bytesDone);
  // A bar whose label changes as the work goes on (a count of files), also called on the bar's thread. A job
  // that prints its own summary asks for none (leaveSummary false).
  ProgressBar(std::function<std::string()> label, std::optional<int64_t> total,
              std::function<int64_t()> bytesDone, bool leaveSummary);
  ~ProgressBar();
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

 private:
  void run();
  // Waits one redraw interval, or less when the bar is stopped meanwhile; true when it is.
  bool waitForStop() REQUIRES(mu_);

  const std::function<std::string()> label_;
  const std::optional<int64_t> total_;
  const std::function<int64_t()> bytesDone_;
  const bool leaveSummary_ = true;
  const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  // Exceptions under way when the bar was made: more of them when it goes means the transfer failed.
  const int exceptionsAtStart_ = std::uncaught_exceptions();
  platform::Mutex mu_;
  platform::CondVar cv_;
  bool stop_ GUARDED_BY(mu_) = false;
  bool drawn_ = false;  // used by the bar's thread only
  std::thread thread_;
};

// The line the bar shows: the label (as visible() shows it), a bar of `width` cells when the total is known,
// the byte counts, and once bytes have moved the rate since the start (elapsed) and, with a total, the time
// left at that rate.
std::string progressLine(const std::string& label, int64_t done, std::optional<int64_t> total, int width,
                         std::chrono::milliseconds elapsed);

// The line that stays when a transfer has finished: the label, the bytes moved, the time it took and the
// rate.
std::string progressSummary(const std::string& label, int64_t done, std::chrono::milliseconds elapsed);

// A duration as a clock shows it: "0:07", "12:30", "1:02:03".
std::string clockDuration(std::chrono::seconds duration);

// A byte count as people read it: "512 B", "3.0 MiB".
std::string humanBytes(int64_t bytes);

// Meters. How much of a local file this process has read so far: the offset of a descriptor of this process
// that is open on that file (an upload reads its file front to back); 0 when none is open.
int64_t readOffsetOf(const std::string& path);
// The bytes held by the regular files in a directory (a download growing in its private directory).
int64_t bytesInDirectory(const std::string& dir);

}  // namespace davfp::cli
