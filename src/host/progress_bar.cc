#include "host/progress_bar.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>

#include "host/visible_text.h"

namespace davfp::cli {

namespace {

constexpr auto kRedraw = std::chrono::milliseconds(150);

int terminalWidth() {
  winsize ws{};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 20) return ws.ws_col;
  return 80;
}

}  // namespace

std::string humanBytes(int64_t bytes) {
  static const char* const kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB"};
  if (bytes < 1024) return std::to_string(bytes) + " B";
  double value = static_cast<double>(bytes);
  int unit = 0;
  while (value >= 1024 && unit < 4) {
    value /= 1024;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
  return text;
}

namespace {

// Bytes a second from the start, or nothing before anything has moved.
std::optional<double> rateOf(int64_t done, std::chrono::milliseconds elapsed) {
  if (done <= 0 || elapsed.count() <= 0) return std::nullopt;
  return static_cast<double>(done) * 1000 / static_cast<double>(elapsed.count());
}

}  // namespace

std::string clockDuration(std::chrono::seconds duration) {
  int64_t s = std::max<int64_t>(0, duration.count());
  char text[32];
  if (s >= 3600) {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(s / 3600),
                  static_cast<long long>(s / 60 % 60), static_cast<long long>(s % 60));
  } else {
    std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(s / 60),
                  static_cast<long long>(s % 60));
  }
  return text;
}

std::string progressLine(const std::string& label, int64_t done, std::optional<int64_t> total, int width,
                         std::chrono::milliseconds elapsed) {
  std::string line = visible(label) + " ";
  auto rate = rateOf(done, elapsed);
  if (total && *total > 0) {
    int64_t shown = std::min(done, *total);
    int filled = static_cast<int>(shown * width / *total);
    line += "[" + std::string(static_cast<size_t>(filled), '#') +
            std::string(static_cast<size_t>(width - filled), ' ') + "] " +
            std::to_string(shown * 100 / *total) + "% " + humanBytes(shown) + " / " + humanBytes(*total);
    if (rate) {
      auto left = std::chrono::seconds(static_cast<int64_t>(std::ceil((*total - shown) / *rate)));
      line += "  " + humanBytes(static_cast<int64_t>(*rate)) + "/s  " + clockDuration(left) + " left";
    }
  } else {
    line += humanBytes(done);
    if (rate) line += "  " + humanBytes(static_cast<int64_t>(*rate)) + "/s";
  }
  return line;
}

std::string progressSummary(const std::string& label, int64_t done, std::chrono::milliseconds elapsed) {
  std::string line = visible(label) + " " + humanBytes(done) + " in " +
                     clockDuration(std::chrono::duration_cast<std::chrono::seconds>(elapsed));
  if (auto rate = rateOf(done, elapsed)) line += ", " + humanBytes(static_cast<int64_t>(*rate)) + "/s";
  return line;
}

int64_t readOffsetOf(const std::string& path) {
  struct stat target;
  if (::stat(path.c_str(), &target) != 0) return 0;
  int64_t offset = 0;
  DIR* dir = ::opendir("/proc/self/fd");
  if (dir == nullptr) return 0;
  while (dirent* entry = ::readdir(dir)) {
    std::string fd = entry->d_name;
    if (fd == "." || fd == "..") continue;
    struct stat st;
    if (::stat(("/proc/self/fd/" + fd).c_str(), &st) != 0) continue;
    if (st.st_dev != target.st_dev || st.st_ino != target.st_ino) continue;
    std::ifstream info("/proc/self/fdinfo/" + fd);
    std::string key;
    int64_t value = 0;
    while (info >> key >> value) {
      if (key == "pos:") {
        offset = std::max(offset, value);
        break;
      }
    }
  }
  ::closedir(dir);
  return offset;
}

int64_t bytesInDirectory(const std::string& path) {
  int64_t total = 0;
  DIR* dir = ::opendir(path.c_str());
  if (dir == nullptr) return 0;
  while (dirent* entry = ::readdir(dir)) {
    struct stat st;
    if (::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode)) {
      total += st.st_size;
    }
  }
  ::closedir(dir);
  return total;
}

ProgressBar::ProgressBar(std::string label, std::optional<int64_t> total, std::function<int64_t()> bytesDone)
    : ProgressBar([label = std::move(label)] { return label; }, total, std::move(bytesDone), true) {}

ProgressBar::ProgressBar(std::function<std::string()> label, std::optional<int64_t> total,
                         std::function<int64_t()> bytesDone, bool leaveSummary)
    : label_(std::move(label)), total_(total), bytesDone_(std::move(bytesDone)), leaveSummary_(leaveSummary) {
  if (::isatty(STDERR_FILENO) == 1) thread_ = std::thread([this] { run(); });
}

ProgressBar::~ProgressBar() {
  if (!thread_.joinable()) return;
  {
    platform::MutexLock lock(mu_);
    stop_ = true;
  }
  cv_.notifyAll();
  thread_.join();
  // A failure's message says what happened; a transfer too short to show a bar needs no summary.
  if (std::uncaught_exceptions() > exceptionsAtStart_ || !drawn_ || !leaveSummary_) return;
  // An upload's file is closed by now and reads as 0: then the whole file went out.
  int64_t done = bytesDone_();
  if (done == 0) done = total_.value_or(0);
  if (done == 0) return;  // no contents moved (a folder made, an item renamed)
  auto elapsed =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start_);
  std::fprintf(stderr, "%s\n", progressSummary(label_(), done, elapsed).c_str());
  std::fflush(stderr);
}

bool ProgressBar::waitForStop() {
  const auto end = std::chrono::steady_clock::now() + kRedraw;
  while (!stop_ && cv_.waitUntil(mu_, end)) {
  }
  return stop_;
}

void ProgressBar::run() {
  platform::MutexLock lock(mu_);
  // Short transfers finish before the first redraw and never show a bar.
  while (!waitForStop()) {
    int columns = terminalWidth();
    auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start_);
    std::string line = progressLine(label_(), bytesDone_(), total_, std::max(10, columns - 80), elapsed);
    size_t fits = static_cast<size_t>(columns - 1);
    if (line.size() > fits) {
      while (fits > 0 && (static_cast<unsigned char>(line[fits]) & 0xC0) == 0x80) --fits;  // whole characters
      line.resize(fits);
    }
    std::fprintf(stderr, "\r%s\033[K", line.c_str());
    std::fflush(stderr);
    drawn_ = true;
  }
  if (drawn_) {
    std::fprintf(stderr, "\r\033[K");
    std::fflush(stderr);
  }
}

}  // namespace davfp::cli
