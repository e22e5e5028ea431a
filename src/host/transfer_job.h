// TransferJob: the files of one get or put of several files or folders, moved several at once. Each file's
// request is started on the engine and finished later on the main thread (the file placed, counted); at
// most as many run at once as the engine's session has connections. A file that fails is named on stderr
// and the others go on. One progress bar on stderr shows the files and bytes of the whole job, and a summary
// line ("N files, SIZE in TIME") ends it. Use from the main thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>

#include "client/pending.h"
#include "host/commands.h"
#include "host/failure.h"
#include "host/progress_bar.h"

namespace davfp::cli {

class TransferJob {
 public:
  // bytesUnderWay: the bytes of the files under way (a download growing in its private folder); called on
  // the progress bar's thread.
  TransferJob(Context& context, std::function<int64_t()> bytesUnderWay);
  TransferJob(const TransferJob&) = delete;
  TransferJob& operator=(const TransferJob&) = delete;

  // Counts files found to copy, for the progress bar.
  void found(int64_t files) { filesFound_ += files; }
  // A request started for the file named subject. done runs on the main thread with its outcome and returns
  // the bytes moved; it may throw Failure or platform::Error, which fail that file only.
  template <class T, class Done>
  void add(std::string subject, client::Pending<T> pending, Done done) {
    add(Entry{std::move(subject), [pending](std::chrono::milliseconds d) { return pending.waitFor(d); },
              [pending, done](std::stop_token cancel) -> int64_t { return done(pending.wait(cancel)); }});
  }
  // Runs work that the files after it need (a folder made, a listing); false when it failed, which is
  // reported as the failure of subject.
  bool attempt(const std::string& subject, const std::function<void()>& work);
  // Reports a failure and goes on.
  void fail(const Failure& failure);
  bool interrupted() const { return context_.interrupt.interrupted(); }

  // Waits for every file under way and prints the summary. The exit status: 0, 1 when something failed,
  // 130 when interrupted (what was under way cancelled).
  int finish();

 private:
  struct Entry {
    std::string subject;
    std::function<bool(std::chrono::milliseconds)> waitFor;
    std::function<int64_t(std::stop_token)> finish;
  };
  void add(Entry entry);
  // Finishes one entry: the first with an outcome, else the oldest once it has one.
  void finishOne();
  void finish(Entry& entry);

  Context& context_;
  const std::function<int64_t()> bytesUnderWay_;
  const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::deque<Entry> underWay_;
  std::atomic<int64_t> filesFound_ = 0;
  std::atomic<int64_t> filesDone_ = 0;
  std::atomic<int64_t> bytesDone_ = 0;
  int failures_ = 0;
  std::optional<ProgressBar> bar_;
};

// The summary line: "3 files, 12.0 KiB in 0.4 s", and how many failed when some did.
std::string transferSummary(int64_t files, int64_t bytes, std::chrono::milliseconds elapsed, int failures);

}  // namespace davfp::cli
