#include "host/transfer_job.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "host/visible_text.h"
#include "platform/url_session.h"

namespace davfp::cli {

namespace {

// The engine runs at most this many exchanges of the drive's session at once; more requests would only wait
// in its queue, holding their files.
constexpr size_t kWindow = static_cast<size_t>(platform::UrlSession::kMaxConnections);

bool isCancellation(const platform::Error& e) {
  return e.is(platform::kCocoaErrorDomain, platform::cocoa::kUserCancelled);
}

}  // namespace

std::string transferSummary(int64_t files, int64_t bytes, std::chrono::milliseconds elapsed, int failures) {
  char time[32];
  if (elapsed < std::chrono::minutes(1)) {
    std::snprintf(time, sizeof time, "%.1f s", static_cast<double>(elapsed.count()) / 1000);
  } else {
    std::snprintf(time, sizeof time, "%s",
                  clockDuration(std::chrono::duration_cast<std::chrono::seconds>(elapsed)).c_str());
  }
  std::string line = std::to_string(files) + (files == 1 ? " file, " : " files, ") + humanBytes(bytes) +
                     " in " + time;
  if (failures > 0) line += "; " + std::to_string(failures) + " failed";
  return line;
}

TransferJob::TransferJob(Context& context, std::function<int64_t()> bytesUnderWay)
    : context_(context), bytesUnderWay_(std::move(bytesUnderWay)) {
  bar_.emplace(
      [this] { return std::to_string(filesDone_.load()) + "/" + std::to_string(filesFound_.load()) + " files"; },
      std::nullopt, [this] { return bytesDone_.load() + bytesUnderWay_(); }, false);
}

void TransferJob::add(Entry entry) {
  while (underWay_.size() >= kWindow) finishOne();
  underWay_.push_back(std::move(entry));
}

void TransferJob::finishOne() {
  for (;;) {
    for (auto it = underWay_.begin(); it != underWay_.end(); ++it) {
      if (it->waitFor(std::chrono::milliseconds(0))) {
        Entry entry = std::move(*it);
        underWay_.erase(it);
        finish(entry);
        return;
      }
    }
    // Nothing has finished: wait a little for the oldest, then look at all of them again. An interruption
    // cancels the oldest at once (finish), and so each in turn.
    if (interrupted() || underWay_.front().waitFor(std::chrono::milliseconds(20))) {
      Entry entry = std::move(underWay_.front());
      underWay_.pop_front();
      finish(entry);
      return;
    }
  }
}

void TransferJob::finish(Entry& entry) {
  try {
    bytesDone_ += entry.finish(context_.interrupt.token());
    ++filesDone_;
  } catch (const Failure& failure) {
    fail(failure);
  } catch (const platform::Error& e) {
    fail(Failure{entry.subject, e, {}});
  }
}

bool TransferJob::attempt(const std::string& subject, const std::function<void()>& work) {
  try {
    work();
    return true;
  } catch (const Failure& failure) {
    fail(failure);
  } catch (const platform::Error& e) {
    fail(Failure{subject, e, {}});
  } catch (const UsageError& e) {
    fail(Failure{subject, platform::Error(platform::kPOSIXErrorDomain, EINVAL, e.what()), {}});
  }
  return false;
}

void TransferJob::fail(const Failure& failure) {
  // What an interruption cancelled is no failure of its own: the job says it was interrupted.
  if (isCancellation(failure.error) && interrupted()) return;
  ++failures_;
  std::string line = visible(humanMessage(failure, context_.options.verbose));
  // The bar's line is erased first, so that the message stands on a line of its own.
  std::fprintf(stderr, "%s%s\n", bar_ && ::isatty(STDERR_FILENO) == 1 ? "\r\033[K" : "", line.c_str());
  std::fflush(stderr);
}

int TransferJob::finish() {
  while (!underWay_.empty()) finishOne();
  bar_.reset();
  auto elapsed =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start_);
  std::string summary = transferSummary(filesDone_.load(), bytesDone_.load(), elapsed, failures_);
  if (interrupted()) summary += "; interrupted, the rest not copied";
  std::fprintf(stderr, "%s\n", visible(summary).c_str());
  std::fflush(stderr);
  if (interrupted()) return kInterruptedStatus;
  return failures_ > 0 ? 1 : 0;
}

}  // namespace davfp::cli
