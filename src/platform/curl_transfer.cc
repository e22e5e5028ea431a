#include "platform/curl_transfer.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <limits>
#include <map>
#include <optional>
#include <stop_token>
#include <vector>

#include "platform/curl_handles.h"
#include "platform/error.h"
#include "platform/http_head.h"
#include "platform/http_urls.h"
#include "platform/jobs.h"
#include "platform/unique_fd.h"

namespace davfp::platform {

namespace {

using Clock = std::chrono::steady_clock;

// Bodies from this size on announce themselves with "Expect: 100-continue", so that a server that refuses the
// request (authentication, no space) can say so before megabytes travel. Smaller ones go at once: a server
// that ignores the expectation would otherwise cost a one-second wait per request.
constexpr int64_t kExpectContinueFrom = 1 << 20;

// Bodies in memory below this size leave with the request's head (libcurl puts up to 64 KiB there).
constexpr int64_t kSentWithTheHead = 60 * 1024;

// File contents move in larger pieces: a fraction of the reads, writes and turns of the loop per megabyte
// that libcurl's default buffers (16 KiB in, 64 KiB out) cost. Only transfers of files get such buffers;
// they exist while the transfer runs.
constexpr int64_t kLargeBody = 8 << 20;
constexpr long kFileBuffer = 512 * 1024;

// How many connections a session keeps in its pool. libcurl sizes the pool from the multi handle of the
// transfer that returns a connection, which here holds one transfer only: four by default, too few for a
// burst of concurrent requests to leave its connections for the next one.
constexpr long kPooledConnections = 16;

bool isToken(std::string_view s) {
  if (s.empty()) return false;
  for (unsigned char c : s) {
    if (c <= 32 || c >= 127 || std::strchr("\"(),/:;<=>?@[\\]{}", c) != nullptr) return false;
  }
  return true;
}

bool isFieldValue(std::string_view s) {
  for (unsigned char c : s) {
    if (c == '\r' || c == '\n' || c == '\0') return false;
  }
  return true;
}

}  // namespace

// One exchange on a loop of its own while it runs: started, then driven to its end.
class Transfer {
 public:
  Transfer(const TransferOptions& options, TransferSink& sink, std::atomic<long>& connections)
      : options_(options), sink_(sink), connections_(connections) {}
  ~Transfer() {
    if (added_ && !counted_) countConnections();
    // In this order, while every field is alive: libcurl may call back (to forget a socket) while it lets go.
    if (added_) curl_multi_remove_handle(loop_.multi.get(), easy_.get());
    if (loop_.multi) {
      // The easy handle goes back with its loop for the next transfer, every option back to its default: none
      // may point into this transfer (its buffers, header list and callbacks' data) once it is gone.
      if (easy_) {
        // The list of cookie files goes first: curl_easy_reset would drop it without freeing it.
        curl_easy_setopt(easy_.get(), CURLOPT_COOKIEFILE, static_cast<char*>(nullptr));
        curl_easy_reset(easy_.get());
      }
      loop_.easy = std::move(easy_);
      // The multi handle outlives this transfer when it goes back to the pool: its callbacks must no longer
      // reach it.
      curl_multi_setopt(loop_.multi.get(), CURLMOPT_SOCKETDATA, nullptr);
      curl_multi_setopt(loop_.multi.get(), CURLMOPT_TIMERDATA, nullptr);
      if (options_.multis) options_.multis->give(std::move(loop_));
    }
    loop_.multi.reset();
    easy_.reset();
  }
  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;

  // Sends what the connection takes at once; finish() drives the rest.
  void start();
  TransferResult finish();

  // libcurl's callbacks, entered through the trampolines below. A callback that fails keeps the exception for
  // finish() and tells libcurl to abort.
  size_t header(std::string_view line);
  size_t write(std::string_view bytes);
  size_t read(char* buffer, size_t n);
  int seek(curl_off_t offset, int origin);
  void socketChanged(curl_socket_t socket, int what);
  void timerChanged(long ms);

 private:
  enum class End { kDone, kCancelled, kIdle, kNoHead, kDeadline };

  void configure();
  End drive(const std::stop_token& token);
  void act(curl_socket_t socket, int events);
  void wake();
  void countConnections();
  // The failure of an exchange that ended without libcurl's result.
  Error timedOut(End end) const;

  const TransferOptions& options_;
  TransferSink& sink_;
  std::atomic<long>& connections_;
  bool counted_ = false;  // the connections it opened are in connections_
  curl::EasyPtr easy_;
  TransferLoop loop_;
  curl::SlistPtr headerList_;
  bool added_ = false;
  std::map<curl_socket_t, short> sockets_;  // the events libcurl waits for, per socket
  std::optional<Clock::time_point> timerDue_;
  std::optional<CURLcode> result_;
  // The head of the final response: the request is out since sentAt_ (none while its body is still being
  // read), and a head other than a 1xx one is whole once headArrived_ (or body bytes came).
  // informational_: the head in progress is a 1xx one.
  std::optional<Clock::time_point> sentAt_;
  bool streamedBody_ = false;
  bool informational_ = false;
  bool headArrived_ = false;
  std::exception_ptr callbackError_;
  char errorBuffer_[CURL_ERROR_SIZE] = {};
};

namespace {

extern "C" {

size_t headerTrampoline(char* data, size_t size, size_t count, void* self) {
  return static_cast<Transfer*>(self)->header(std::string_view(data, size * count));
}

size_t writeTrampoline(char* data, size_t size, size_t count, void* self) {
  return static_cast<Transfer*>(self)->write(std::string_view(data, size * count));
}

size_t readTrampoline(char* buffer, size_t size, size_t count, void* self) {
  return static_cast<Transfer*>(self)->read(buffer, size * count);
}

int seekTrampoline(void* self, curl_off_t offset, int origin) {
  return static_cast<Transfer*>(self)->seek(offset, origin);
}

// A pooled multi handle between transfers has no transfer to call back: it only closes idle connections.
int socketTrampoline(CURL*, curl_socket_t socket, int what, void* self, void*) {
  if (self) static_cast<Transfer*>(self)->socketChanged(socket, what);
  return 0;
}

int timerTrampoline(CURLM*, long ms, void* self) {
  if (self) static_cast<Transfer*>(self)->timerChanged(ms);
  return 0;
}

// Sockets are created close-on-exec, so that a program this process starts never holds a connection open.
curl_socket_t openSocketTrampoline(void*, curlsocktype, curl_sockaddr* address) {
  int fd = ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
  return fd < 0 ? CURL_SOCKET_BAD : fd;
}

}  // extern "C"

// A multi handle with its event callbacks (their data is set per transfer) and a wake-up event.
TransferLoop newLoop() {
  TransferLoop loop;
  loop.multi.reset(curl_multi_init());
  if (!loop.multi) throw Error(kURLErrorDomain, urlerr::kUnknown, "libcurl could not create a multi handle");
  if (curl_multi_setopt(loop.multi.get(), CURLMOPT_SOCKETFUNCTION, socketTrampoline) != CURLM_OK ||
      curl_multi_setopt(loop.multi.get(), CURLMOPT_TIMERFUNCTION, timerTrampoline) != CURLM_OK ||
      curl_multi_setopt(loop.multi.get(), CURLMOPT_MAXCONNECTS, kPooledConnections) != CURLM_OK) {
    throw Error(kURLErrorDomain, urlerr::kUnknown, "libcurl refused the event callbacks");
  }
  loop.wake.reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!loop.wake) {
    throw Error(kURLErrorDomain, urlerr::kUnknown, std::string("eventfd: ") + std::strerror(errno));
  }
  return loop;
}

}  // namespace

size_t Transfer::header(std::string_view line) {
  if (line.starts_with("HTTP/")) {
    // A new head: after a 1xx one, or after an authentication challenge that libcurl answers itself.
    size_t space = line.find(' ');
    informational_ = space != std::string_view::npos && space + 1 < line.size() && line[space + 1] == '1';
    headArrived_ = false;
  } else if (line == "\r\n" || line == "\n") {
    headArrived_ = !informational_;
  }
  try {
    sink_.onHeaderLine(line);
    return line.size();
  } catch (...) {
    callbackError_ = std::current_exception();
    return 0;
  }
}

size_t Transfer::write(std::string_view bytes) {
  headArrived_ = true;
  try {
    sink_.onBody(bytes);
    return bytes.size();
  } catch (...) {
    callbackError_ = std::current_exception();
    return 0;
  }
}

size_t Transfer::read(char* buffer, size_t n) {
  try {
    size_t got = options_.body->read(buffer, n);
    if (got == 0 && !sentAt_) sentAt_ = Clock::now();
    return got;
  } catch (...) {
    callbackError_ = std::current_exception();
    return CURL_READFUNC_ABORT;
  }
}

int Transfer::seek(curl_off_t offset, int origin) {
  if (origin != SEEK_SET || offset < 0 || offset > options_.body->size()) return CURL_SEEKFUNC_FAIL;
  options_.body->seek(offset);
  sentAt_.reset();  // the body goes out again
  return CURL_SEEKFUNC_OK;
}

void Transfer::socketChanged(curl_socket_t socket, int what) {
  if (what == CURL_POLL_REMOVE) {
    sockets_.erase(socket);
    return;
  }
  short events = 0;
  if (what & CURL_POLL_IN) events |= POLLIN;
  if (what & CURL_POLL_OUT) events |= POLLOUT;
  sockets_[socket] = events;
}

void Transfer::timerChanged(long ms) {
  if (ms < 0) {
    timerDue_.reset();
  } else {
    timerDue_ = Clock::now() + std::chrono::milliseconds(ms);
  }
}

void Transfer::configure() {
  CURL* h = easy_.get();
  using curl::setopt;
  setopt(h, CURLOPT_URL, options_.url.c_str());
  setopt(h, CURLOPT_NOSIGNAL, 1L);
  setopt(h, CURLOPT_ERRORBUFFER, errorBuffer_);
  setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
  // Redirects are followed by the session, which decides per method and origin.
  setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
  // HTTP/1.1 only: connections move between the multi handles of different transfers through the share
  // handle, and a multiplexed connection must stay within one multi handle.
  setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  setopt(h, CURLOPT_SHARE, options_.share);
  setopt(h, CURLOPT_COOKIEFILE, "");  // the cookie engine, in memory only
  setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(options_.idleTimeout.count()));
  setopt(h, CURLOPT_OPENSOCKETFUNCTION, openSocketTrampoline);
  setopt(h, CURLOPT_OPENSOCKETDATA, this);
  setopt(h, CURLOPT_HEADERFUNCTION, headerTrampoline);
  setopt(h, CURLOPT_HEADERDATA, this);
  setopt(h, CURLOPT_WRITEFUNCTION, writeTrampoline);
  setopt(h, CURLOPT_WRITEDATA, this);
  if (options_.auth != 0) setopt(h, CURLOPT_HTTPAUTH, static_cast<unsigned long>(options_.auth));
  if (options_.caFile) setopt(h, CURLOPT_CAINFO, options_.caFile->c_str());

  if (!isToken(options_.method)) {
    throw Error(kURLErrorDomain, urlerr::kBadURL, "the request method is not a valid HTTP token");
  }
  bool expectSet = false;
  bool contentTypeSet = false;
  if (options_.headers != nullptr) {
    for (const auto& [name, value] : *options_.headers) {
      if (!isToken(name) || !isFieldValue(value)) {
        throw Error(kURLErrorDomain, urlerr::kBadURL, "the request header \"" + name + "\" is not valid");
      }
      expectSet = expectSet || equalsIgnoringCase(name, "Expect");
      contentTypeSet = contentTypeSet || equalsIgnoringCase(name, "Content-Type");
      // "Name;" is libcurl's way to send a header with an empty value ("Name:" would remove it).
      curl::append(headerList_, value.empty() ? name + ";" : name + ": " + value);
    }
  }

  std::optional<std::string_view> smallBody;
  if (options_.body != nullptr && options_.body->size() < kSentWithTheHead) smallBody = options_.body->inMemory();
  if (smallBody) {
    // Handed to libcurl whole, which sends it in the same write as the head: a body pulled through the read
    // callback leaves in a write of its own, and the server wakes up twice per request. libcurl rewinds it
    // itself when the request goes out again.
    setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(smallBody->size()));
    setopt(h, CURLOPT_POSTFIELDS, smallBody->empty() ? "" : smallBody->data());
    if (options_.method != "POST") setopt(h, CURLOPT_CUSTOMREQUEST, options_.method.c_str());
    // libcurl would call such a body a form; the request says what its body is, or nothing.
    if (!contentTypeSet) curl::append(headerList_, "Content-Type:");
    if (!expectSet) curl::append(headerList_, "Expect:");
  } else if (options_.body != nullptr) {
    streamedBody_ = true;
    setopt(h, CURLOPT_UPLOAD, 1L);
    setopt(h, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(options_.body->size()));
    setopt(h, CURLOPT_READFUNCTION, readTrampoline);
    setopt(h, CURLOPT_READDATA, this);
    setopt(h, CURLOPT_SEEKFUNCTION, seekTrampoline);
    setopt(h, CURLOPT_SEEKDATA, this);
    if (options_.method != "PUT") setopt(h, CURLOPT_CUSTOMREQUEST, options_.method.c_str());
    if (!expectSet && options_.body->size() < kExpectContinueFrom) curl::append(headerList_, "Expect:");
    if (options_.body->size() >= kLargeBody) setopt(h, CURLOPT_UPLOAD_BUFFERSIZE, kFileBuffer);
  } else if (options_.method == "HEAD") {
    setopt(h, CURLOPT_NOBODY, 1L);
  } else if (options_.method != "GET") {
    setopt(h, CURLOPT_CUSTOMREQUEST, options_.method.c_str());
  }
  if (headerList_) setopt(h, CURLOPT_HTTPHEADER, headerList_.get());
  if (options_.intoFile) setopt(h, CURLOPT_BUFFERSIZE, kFileBuffer);
}

void Transfer::wake() {
  uint64_t one = 1;
  // A full counter already wakes the loop; nothing else can go wrong with an eventfd.
  (void)!::write(loop_.wake.get(), &one, sizeof one);
}

void Transfer::act(curl_socket_t socket, int events) {
  int running = 0;
  CURLMcode rc = curl_multi_socket_action(loop_.multi.get(), socket, events, &running);
  if (rc != CURLM_OK) throw Error(kURLErrorDomain, urlerr::kUnknown, curl_multi_strerror(rc));
  int left = 0;
  while (CURLMsg* message = curl_multi_info_read(loop_.multi.get(), &left)) {
    if (message->msg == CURLMSG_DONE && message->easy_handle == easy_.get()) result_ = message->data.result;
  }
}

Transfer::End Transfer::drive(const std::stop_token& token) {
  std::stop_callback onStop(token, [this] { wake(); });
  // Silence counts from here: while the caller worked between start and finish, nobody was looking. So does
  // the wait for the head of a request that went out before.
  auto lastActivity = Clock::now();
  if (!streamedBody_ || sentAt_) sentAt_ = lastActivity;
  std::vector<pollfd> fds;
  for (;;) {
    if (result_) return End::kDone;
    if (token.stop_requested()) return End::kCancelled;
    auto now = Clock::now();
    auto due = lastActivity + options_.idleTimeout;
    End late = End::kIdle;
    if (!headArrived_ && sentAt_ && *sentAt_ + options_.idleTimeout < due) {
      due = *sentAt_ + options_.idleTimeout;
      late = End::kNoHead;
    }
    if (options_.deadline && *options_.deadline < due) {
      due = *options_.deadline;
      late = End::kDeadline;
    }
    if (now >= due) return late;
    if (timerDue_ && *timerDue_ < due) due = *timerDue_;
    auto wait = std::chrono::ceil<std::chrono::milliseconds>(due - now).count();
    int waitMs =
        static_cast<int>(std::min<long long>(std::max<long long>(wait, 0), std::numeric_limits<int>::max()));

    fds.clear();
    fds.push_back({loop_.wake.get(), POLLIN, 0});
    for (const auto& [socket, events] : sockets_) fds.push_back({socket, events, 0});
    int ready = ::poll(fds.data(), fds.size(), waitMs);
    if (ready < 0) {
      if (errno == EINTR) continue;
      throw Error(kURLErrorDomain, urlerr::kUnknown,
                  std::string("waiting for the network: ") + std::strerror(errno));
    }
    if (fds[0].revents != 0) {
      uint64_t count = 0;
      (void)!::read(loop_.wake.get(), &count, sizeof count);
    }
    for (size_t i = 1; i < fds.size() && !result_; ++i) {
      if (fds[i].revents == 0 || sockets_.count(fds[i].fd) == 0) continue;
      // Readable means bytes (or the end) arrived; writable means bytes left and there is room for more.
      lastActivity = Clock::now();
      int events = 0;
      if (fds[i].revents & (POLLIN | POLLHUP)) events |= CURL_CSELECT_IN;
      if (fds[i].revents & POLLOUT) events |= CURL_CSELECT_OUT;
      if (fds[i].revents & (POLLERR | POLLNVAL)) events |= CURL_CSELECT_ERR;
      act(fds[i].fd, events);
    }
    if (!result_ && timerDue_ && Clock::now() >= *timerDue_) {
      timerDue_.reset();
      act(CURL_SOCKET_TIMEOUT, 0);
    }
  }
}

void Transfer::start() {
  curl::globalInit();
  if (currentStopToken().stop_requested()) throw Error(kURLErrorDomain, urlerr::kCancelled, "cancelled");

  loop_ = options_.multis ? options_.multis->take() : newLoop();
  if (loop_.easy) {
    // The last transfer's handle, its options reset when it came back: its cookies are dropped too, so that
    // the exchange starts as on a new handle (cookies live only within the exchange that received them).
    easy_ = std::move(loop_.easy);
    curl::setopt(easy_.get(), CURLOPT_COOKIELIST, "ALL");
  } else {
    easy_.reset(curl_easy_init());
    if (!easy_) throw Error(kURLErrorDomain, urlerr::kUnknown, "libcurl could not create a transfer");
  }
  configure();
  if (curl_multi_setopt(loop_.multi.get(), CURLMOPT_SOCKETDATA, this) != CURLM_OK ||
      curl_multi_setopt(loop_.multi.get(), CURLMOPT_TIMERDATA, this) != CURLM_OK) {
    throw Error(kURLErrorDomain, urlerr::kUnknown, "libcurl refused the event callbacks");
  }
  if (CURLMcode rc = curl_multi_add_handle(loop_.multi.get(), easy_.get()); rc != CURLM_OK) {
    throw Error(kURLErrorDomain, urlerr::kUnknown, curl_multi_strerror(rc));
  }
  added_ = true;
  // libcurl takes the pooled connection (or starts a new one) and writes the request as far as it can.
  act(CURL_SOCKET_TIMEOUT, 0);
}

void Transfer::countConnections() {
  counted_ = true;
  long connects = 0;
  if (curl_easy_getinfo(easy_.get(), CURLINFO_NUM_CONNECTS, &connects) == CURLE_OK) connections_ += connects;
}

TransferResult Transfer::finish() {
  End end = drive(currentStopToken());

  countConnections();
  if (callbackError_) std::rethrow_exception(callbackError_);
  if (end == End::kCancelled) throw Error(kURLErrorDomain, urlerr::kCancelled, "cancelled");
  if (end != End::kDone) throw timedOut(end);
  if (*result_ != CURLE_OK) {
    std::string message = withoutCredentials(
        errorBuffer_[0] != '\0' ? errorBuffer_ : curl_easy_strerror(*result_), options_.url);
    std::string cause = message + " (curl " + std::to_string(static_cast<int>(*result_)) + ")";
    throw transportError(*result_, std::move(message),
                         requestLine(options_.method, options_.url) + ": " + cause);
  }
  TransferResult result;
  curl_easy_getinfo(easy_.get(), CURLINFO_HTTPAUTH_AVAIL, &result.authOffered);
  return result;
}

Error Transfer::timedOut(End end) const {
  std::string limit = std::to_string(options_.idleTimeout.count()) + " ms";
  std::string message = end == End::kIdle     ? "no data moved for " + limit
                        : end == End::kNoHead ? "the response head was not whole within " + limit
                                              : "the exchange was not over in time";
  std::string cause = requestLine(options_.method, options_.url) + ": " + message;
  return Error(kURLErrorDomain, urlerr::kTimedOut, std::move(message), std::move(cause));
}

TransferLoop MultiPool::take() {
  {
    MutexLock lock(mu_);
    if (!idle_.empty()) {
      TransferLoop loop = std::move(idle_.back());
      idle_.pop_back();
      return loop;
    }
  }
  return newLoop();
}

void MultiPool::give(TransferLoop loop) {
  MutexLock lock(mu_);
  idle_.push_back(std::move(loop));
}

StartedTransfer::StartedTransfer(const TransferOptions& options, TransferSink& sink,
                                 std::atomic<long>& connections)
    : transfer_(std::make_unique<Transfer>(options, sink, connections)) {
  transfer_->start();
}

StartedTransfer::~StartedTransfer() = default;

TransferResult StartedTransfer::finish() {
  // Gone when this returns or throws: the loop is back in the pool for the next transfer.
  std::unique_ptr<Transfer> transfer = std::move(transfer_);
  return transfer->finish();
}

}  // namespace davfp::platform
