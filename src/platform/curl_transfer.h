// One HTTP exchange (one URL, no redirect following) on libcurl, driven to its end on the calling thread.
//
// The exchange runs in a multi handle of its own, in libcurl's socket mode, so that the loop sees every
// socket event: the idle timeout counts from the last moment a byte could move in either direction, never
// from the start, and cancellation of the calling job wakes the loop at once. Connections, DNS and TLS
// sessions and cookies come from the share handle given. A thread reuses the multi handle of its previous
// exchange when that one ended normally. Not thread-safe: one exchange per object.
#pragma once

#include <curl/curl.h>

#include <atomic>
#include <chrono>
#include <string>
#include <string_view>

#include "platform/request_body.h"
#include "platform/url_session.h"

namespace davfp::platform {

// Receives what arrives. A method that throws ends the exchange; runTransfer rethrows the exception.
class TransferSink {
 public:
  virtual ~TransferSink() = default;
  // Every header line of every response of the exchange (status lines included), in order.
  virtual void onHeaderLine(std::string_view line) = 0;
  // Body bytes that libcurl delivers (not those of responses it answers itself, like authentication
  // challenges).
  virtual void onBody(std::string_view bytes) = 0;
};

struct TransferOptions {
  std::string method;
  std::string url;
  const HeaderList* headers = nullptr;
  RequestBody* body = nullptr;  // none: the request has no body
  std::chrono::milliseconds idleTimeout{120000};
  long auth = 0;  // CURLAUTH_* methods allowed with the URL's credentials; 0 for none
  CURLSH* share = nullptr;
  bool intoFile = false;  // the body is received into a file: it arrives in larger pieces
};

struct TransferResult {
  long authOffered = 0;  // CURLAUTH_* methods the server offered in a challenge, if any
};

// Runs the exchange. Throws Error(kURLErrorDomain, ...): kCancelled when the current job is cancelled,
// kTimedOut when no byte moved for idleTimeout, the mapped libcurl failure otherwise; or what the sink threw.
// The new connections it made are added to connections, also when it throws.
TransferResult runTransfer(const TransferOptions& options, TransferSink& sink,
                           std::atomic<long>& connections);

}  // namespace davfp::platform
