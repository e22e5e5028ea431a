// One HTTP exchange (one URL, no redirect following) on libcurl, driven to its end on the calling thread.
//
// The exchange runs in a multi handle lent to it alone, in libcurl's socket mode, so that the loop sees every
// socket event: the idle timeout counts from the last moment a byte could move in either direction, never
// from the start, and cancellation of the calling job wakes the loop at once. The same timeout bounds the
// wait for the head of the response in total, from the moment the request is out: a head that trickles in
// byte by byte does not hold the exchange for longer. Connections come with the lent
// multi handle (see MultiPool); DNS and TLS sessions from the share handle given. A small body in memory goes
// out with the request's head, in one write. Not thread-safe: one exchange per object.
#pragma once

#include <curl/curl.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/curl_handles.h"
#include "platform/request_body.h"
#include "platform/unique_fd.h"
#include "platform/url_session.h"
#include "platform/mutex.h"

namespace davfp::platform {

// Receives what arrives. A method that throws ends the exchange; StartedTransfer rethrows the exception.
class TransferSink {
 public:
  virtual ~TransferSink() = default;
  // Every header line of every response of the exchange (status lines included), in order.
  virtual void onHeaderLine(std::string_view line) = 0;
  // Body bytes that libcurl delivers (not those of responses it answers itself, like authentication
  // challenges).
  virtual void onBody(std::string_view bytes) = 0;
};

// What drives one transfer at a time: a multi handle, which keeps the connections its transfers opened, the
// event that wakes its loop when the transfer's job is cancelled, and the easy handle of the last transfer.
// Kept between transfers, so that the next one reuses the connection and sets up none of them. A reused easy
// handle starts from libcurl's defaults with no cookies: nothing of one exchange carries over to the next.
struct TransferLoop {
  curl::MultiPtr multi;
  UniqueFd wake;
  curl::EasyPtr easy;  // none until a transfer has run on this loop
};

// Transfer loops lent to one transfer at a time. Lending the one returned last lets the next exchange reuse its
// connection. Connections are never shared between threads through a share handle: libcurl does not support
// that (it corrupts memory under load). Thread-safe.
class MultiPool {
 public:
  // The loop returned last, or a new one. Throws Error(kURLErrorDomain, kUnknown) when none can be made.
  TransferLoop take();
  // Takes back a loop that no transfer uses any more.
  void give(TransferLoop loop);

 private:
  Mutex mu_;
  std::vector<TransferLoop> idle_ GUARDED_BY(mu_);
};

struct TransferOptions {
  std::string method;
  std::string url;
  const HeaderList* headers = nullptr;
  RequestBody* body = nullptr;  // none: the request has no body
  std::chrono::milliseconds idleTimeout{120000};  // also the wait for the head of the response
  // The exchange fails with kTimedOut when it is not over by then.
  std::optional<std::chrono::steady_clock::time_point> deadline;
  const std::string* caFile = nullptr;  // trust the authorities in this file instead of the system's
  long auth = 0;  // CURLAUTH_* methods allowed with the URL's credentials; 0 for none
  CURLSH* share = nullptr;      // DNS and TLS sessions only
  MultiPool* multis = nullptr;  // none: a loop of the transfer's own
  bool intoFile = false;        // the body is received into a file: it arrives in larger pieces
};

struct TransferResult {
  long authOffered = 0;  // CURLAUTH_* methods the server offered in a challenge, if any
};

class Transfer;

// One exchange in two steps on one thread, so that the caller can work while the server answers: the
// constructor starts it (on a reused connection the request leaves at once, a small body with it), finish()
// drives it to its end. Nothing runs in between: the sink is called only inside the constructor and finish(),
// and the idle timeout counts from the start of finish(). options, sink and connections must outlive it.
// Destroying it unfinished ends the transfer (libcurl closes a connection whose answer did not arrive whole).
// Failures are Error(kURLErrorDomain, ...): kCancelled when the current job is cancelled, kTimedOut when no
// byte moved for idleTimeout, when the head was not whole idleTimeout after the request was out, or at the
// deadline, the mapped libcurl failure otherwise, each with its cause ("GET /a: ..."); or what the sink
// threw. The new connections it made are added to connections, also when it fails. Not thread-safe.
class StartedTransfer {
 public:
  // Throws when the transfer cannot start (cancelled, an option refused).
  StartedTransfer(const TransferOptions& options, TransferSink& sink, std::atomic<long>& connections);
  ~StartedTransfer();
  StartedTransfer(const StartedTransfer&) = delete;
  StartedTransfer& operator=(const StartedTransfer&) = delete;

  // Drives the transfer to its end; throws what the exchange failed with. Call once. The loop goes back to the pool
  // before it returns, so that the next transfer can take over the connection.
  TransferResult finish();

 private:
  std::unique_ptr<Transfer> transfer_;
};

}  // namespace davfp::platform
