// UrlSession on libcurl: a share handle per session, one multi-handle exchange per hop (curl_transfer), and
// the session's own redirect following (http_urls), so that the method, the body and the credentials of every
// hop are decided here rather than by libcurl's defaults.
#include "platform/url_session.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <map>
#include <mutex>
#include <stdexcept>
#include <stop_token>

#include "platform/curl_handles.h"
#include "platform/curl_transfer.h"
#include "platform/download_file.h"
#include "platform/error.h"
#include "platform/http_head.h"
#include "platform/http_urls.h"
#include "platform/jobs.h"
#include "platform/mutex.h"

namespace davfp::platform {

namespace {

// How many redirects one request follows before it fails with kHTTPTooManyRedirects.
constexpr int kMaxRedirects = 10;

// The methods offered for credentials in a URL until the server has said which one it wants.
constexpr long kNegotiatedAuth = static_cast<long>(CURLAUTH_BASIC | CURLAUTH_DIGEST);

// Where the response of a request goes: its head once, before any of its body.
class Consumer {
 public:
  virtual ~Consumer() = default;
  virtual void onResponse(const HttpResponse& response) = 0;
  virtual void onBody(std::string_view bytes) = 0;
};

// The receiving end of one hop: keeps the latest head, decides at its end whether the session follows it (a
// redirect) or sends the hop again (an authentication method learned earlier that this server refused), drops
// the body of such a response, and hands the final response to the consumer, its head first.
class HopSink : public TransferSink {
 public:
  HopSink(const std::string& method, const std::string& url, bool retryUnauthorized, Consumer& consumer)
      : method_(method), url_(url), retryUnauthorized_(retryUnauthorized), consumer_(consumer) {}

  void onHeaderLine(std::string_view line) override {
    bool wasComplete = head_.complete();
    head_.addLine(line);
    if (wasComplete || !head_.complete() || head_.informational()) return;
    retry_ = retryUnauthorized_ && head_.status() == 401;
    next_ = retry_ ? std::nullopt
                   : redirectStep(method_, url_, head_.status(), findHeader(head_.headers(), "Location"));
  }

  void onBody(std::string_view bytes) override {
    if (next_ || retry_) return;  // the body of a response that the session does not deliver
    deliverHead();
    consumer_.onBody(bytes);
  }

  // The head goes out at the first body byte, not at the end of the head: libcurl may answer an
  // authentication challenge itself and go on to another response, whose head is then the final one.
  void deliverHead() {
    if (delivered_) return;
    delivered_ = true;
    consumer_.onResponse(response());
  }

  HttpResponse response() const {
    HttpResponse response;
    response.status = head_.status();
    response.method = method_;
    response.url = url_;
    response.headers = head_.headers();
    return response;
  }

  const std::optional<RedirectStep>& next() const { return next_; }
  bool retry() const { return retry_; }

 private:
  const std::string& method_;
  const std::string& url_;
  const bool retryUnauthorized_;
  Consumer& consumer_;
  ResponseHead head_;
  std::optional<RedirectStep> next_;
  bool retry_ = false;
  bool delivered_ = false;
};

bool isCredentialHeader(const std::string& name) {
  return equalsIgnoringCase(name, "Authorization") || equalsIgnoringCase(name, "Cookie") ||
         equalsIgnoringCase(name, "Proxy-Authorization");
}

bool isBodyHeader(const std::string& name) {
  return equalsIgnoringCase(name, "Content-Type") || equalsIgnoringCase(name, "Content-Length") ||
         equalsIgnoringCase(name, "Content-Encoding") || equalsIgnoringCase(name, "Content-Language") ||
         equalsIgnoringCase(name, "Expect");
}

template <class Pred>
void removeHeaders(HeaderList& headers, Pred pred) {
  std::erase_if(headers, [&](const auto& field) { return pred(field.first); });
}

// One lock per kind of data a share handle guards; libcurl takes and releases them from any thread.
struct ShareLocks {
  std::array<std::mutex, CURL_LOCK_DATA_LAST> locks;
};

extern "C" {

void lockShare(CURL*, curl_lock_data data, curl_lock_access, void* locks) {
  static_cast<ShareLocks*>(locks)->locks[data].lock();
}

void unlockShare(CURL*, curl_lock_data data, void* locks) {
  static_cast<ShareLocks*>(locks)->locks[data].unlock();
}

}  // extern "C"

// The exchanges that may run at once. A caller waits for a free slot before its transfer starts; the wait
// ends early, with kCancelled, when the caller's job is cancelled. Thread-safe.
class Slots {
 public:
  explicit Slots(long count) : free_(count) {}

  // Held for the lifetime of one exchange.
  class Held {
   public:
    explicit Held(Slots& slots) : slots_(slots) { slots_.acquire(); }
    ~Held() { slots_.release(); }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;

   private:
    Slots& slots_;
  };

 private:
  void acquire() {
    std::stop_token token = currentStopToken();
    MutexLock lock(mu_);
    if (!cv_.wait(mu_, token, [this]() NO_THREAD_SAFETY_ANALYSIS { return free_ > 0; })) {
      throw Error(kURLErrorDomain, urlerr::kCancelled, "cancelled");
    }
    --free_;
  }

  void release() {
    {
      MutexLock lock(mu_);
      ++free_;
    }
    cv_.notifyOne();
  }

  Mutex mu_;
  StoppableCondVar cv_;
  long free_ GUARDED_BY(mu_);
};

// The file of trusted authorities that the environment names, as for curl: CURL_CA_BUNDLE, else
// SSL_CERT_FILE.
std::optional<std::string> caFileFromEnvironment() {
  for (const char* name : {"CURL_CA_BUNDLE", "SSL_CERT_FILE"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && value[0] != '\0') return value;
  }
  return std::nullopt;
}

}  // namespace

struct UrlSession::Impl {
  explicit Impl(std::chrono::milliseconds timeout)
      : requestTimeout(timeout), caFile(caFileFromEnvironment()) {}

  // intoFile: the body goes to a file (larger transfer buffers).
  HttpResponse perform(const HttpRequest& request, Consumer& consumer, bool intoFile = false);
  long authFor(const std::string& url);
  void learnAuth(const std::string& url, long offered, long status);

  const std::chrono::milliseconds requestTimeout;
  const std::optional<std::string> caFile;
  ShareLocks shareLocks;  // declared before share: destroyed after it
  curl::SharePtr share;
  MultiPool multis;  // declared after share: its connections go before the share handle does
  std::atomic<long> connections{0};
  Slots slots{kMaxConnections};

  Mutex mu;
  // For "origin user:password", the authentication method the server asked for, so that later requests send
  // Basic credentials at once, and uploads to a Digest server probe with an empty body first.
  std::map<std::string, long> learnedAuth GUARDED_BY(mu);
};

UrlSession::UrlSession(std::chrono::milliseconds requestTimeout)
    : impl_(std::make_unique<Impl>(requestTimeout)) {
  curl::globalInit();
  impl_->share.reset(curl_share_init());
  if (!impl_->share)
    throw Error(kURLErrorDomain, urlerr::kUnknown, "libcurl could not create a share handle");
  CURLSH* share = impl_->share.get();
  bool ok = curl_share_setopt(share, CURLSHOPT_LOCKFUNC, lockShare) == CURLSHE_OK &&
            curl_share_setopt(share, CURLSHOPT_UNLOCKFUNC, unlockShare) == CURLSHE_OK &&
            curl_share_setopt(share, CURLSHOPT_USERDATA, &impl_->shareLocks) == CURLSHE_OK;
  // Only what libcurl supports sharing between threads: connections are reused through the multi handles
  // of the pool, and cookies stay with their exchange.
  for (curl_lock_data data : {CURL_LOCK_DATA_DNS, CURL_LOCK_DATA_SSL_SESSION}) {
    ok = ok && curl_share_setopt(share, CURLSHOPT_SHARE, data) == CURLSHE_OK;
  }
  if (!ok) throw Error(kURLErrorDomain, urlerr::kUnknown, "libcurl refused to share DNS and TLS sessions");
}

UrlSession::~UrlSession() = default;

long UrlSession::Impl::authFor(const std::string& url) {
  auto user = userOf(url);
  if (!user) return 0;
  MutexLock lock(mu);
  auto it = learnedAuth.find(originOf(url).value_or("") + " " + *user);
  return it != learnedAuth.end() ? it->second : kNegotiatedAuth;
}

void UrlSession::Impl::learnAuth(const std::string& url, long offered, long status) {
  auto user = userOf(url);
  if (!user) return;
  std::string key = originOf(url).value_or("") + " " + *user;
  MutexLock lock(mu);
  if (status == 401) {
    learnedAuth.erase(key);  // whatever was learned no longer works
  } else if (offered & CURLAUTH_DIGEST) {
    learnedAuth[key] = CURLAUTH_DIGEST;
  } else if (offered & CURLAUTH_BASIC) {
    learnedAuth[key] = CURLAUTH_BASIC;
  }
}

// One request from its first hop to its final response: each hop is started, then finished, and the next one
// (a redirect, an authentication retry) started in turn. Stays at one address while a hop runs: the hop's
// transfer holds references into it.
struct UrlSession::Started::State {
  State(Impl& session, const HttpRequest& request, Consumer& to, bool file)
      : impl(session),
        consumer(to),
        intoFile(file),
        method(request.method),
        url(request.url),
        headers(request.headers),
        timeout(request.timeout && request.timeout->count() > 0 ? *request.timeout : session.requestTimeout),
        deadline(request.deadline) {}

  // Opens the request's body (its file, when it has one); throws what RequestBody::file throws. A body in
  // memory is read from the request, which must outlive the exchange, unless it was copied into ownedBody.
  void openBody(const HttpRequest& request) {
    if (request.bodyFile) {
      body.emplace(RequestBody::file(*request.bodyFile));
    } else if (ownedBody) {
      body.emplace(RequestBody::bytes(*ownedBody));
    } else if (request.body) {
      body.emplace(RequestBody::bytes(*request.body));
    }
  }
  void startHop();
  HttpResponse finish();

  Impl& impl;
  Consumer& consumer;
  std::unique_ptr<Consumer> ownedConsumer;  // the consumer of a started exchange, which owns its callbacks
  // The body of a started exchange: its request may be gone before a hop sends it (on a new connection, or
  // again after a redirect).
  std::optional<std::string> ownedBody;
  const bool intoFile;                      // the body goes to a file (larger transfer buffers)
  std::optional<RequestBody> body;
  std::string method;
  std::string url;
  HeaderList headers;
  const std::chrono::milliseconds timeout;
  const std::optional<std::chrono::steady_clock::time_point> deadline;
  int redirects = 0;
  bool authRetried = false;
  std::exception_ptr startFailure;  // what kept a started exchange from starting

  // The hop in flight, destroyed in reverse order: the transfer before its slot.
  TransferOptions options;
  std::optional<HopSink> sink;
  std::optional<Slots::Held> slot;
  std::optional<StartedTransfer> transfer;
};

void UrlSession::Started::State::startHop() {
  long auth = impl.authFor(url);
  sink.emplace(method, url, !authRetried && auth != 0 && auth != kNegotiatedAuth, consumer);
  options = TransferOptions{};
  options.method = method;
  options.url = url;
  options.headers = &headers;
  options.body = body ? &*body : nullptr;
  options.idleTimeout = timeout;
  options.deadline = deadline;
  options.caFile = impl.caFile ? &*impl.caFile : nullptr;
  options.auth = auth;
  options.share = impl.share.get();
  options.multis = &impl.multis;
  options.intoFile = intoFile;
  if (body) body->seek(0);
  slot.emplace(impl.slots);
  transfer.emplace(options, *sink, impl.connections);
}

HttpResponse UrlSession::Started::State::finish() {
  if (startFailure) std::rethrow_exception(startFailure);
  for (;;) {
    TransferResult result = transfer->finish();
    transfer.reset();
    slot.reset();
    HttpResponse response = sink->response();
    impl.learnAuth(url, result.authOffered, response.status);

    if (sink->retry()) {
      // The method learned from earlier answers was refused here (another realm, a changed server):
      // negotiate.
      authRetried = true;
      startHop();
      continue;
    }
    if (!sink->next()) {
      sink->deliverHead();
      return response;
    }
    if (++redirects > kMaxRedirects) {
      std::string message = "more than " + std::to_string(kMaxRedirects) + " redirects";
      throw Error(kURLErrorDomain, urlerr::kHTTPTooManyRedirects, message,
                  requestLine(method, url) + ": " + message);
    }
    RedirectStep step = *sink->next();
    if (!step.keepBody) {
      body.reset();
      removeHeaders(headers, isBodyHeader);
    }
    // Credentials that were dropped on the way to another origin stay dropped for the rest of the chain.
    if (step.crossOrigin) removeHeaders(headers, isCredentialHeader);
    method = std::move(step.method);
    url = std::move(step.url);
    startHop();
  }
}

HttpResponse UrlSession::Impl::perform(const HttpRequest& request, Consumer& consumer, bool intoFile) {
  Started::State exchange(*this, request, consumer, intoFile);
  exchange.openBody(request);
  exchange.startHop();
  return exchange.finish();
}

UrlSession::Started::Started(std::unique_ptr<State> state) : state_(std::move(state)) {}
UrlSession::Started::Started(Started&&) noexcept = default;
UrlSession::Started& UrlSession::Started::operator=(Started&&) noexcept = default;
UrlSession::Started::~Started() = default;

HttpResponse UrlSession::Started::finish() {
  if (!state_) throw std::logic_error("UrlSession::Started::finish called twice");
  // Gone when this returns or throws: its slot and connection are free for the next exchange.
  std::unique_ptr<State> state = std::move(state_);
  return state->finish();
}

UrlSession::Data UrlSession::data(const HttpRequest& request) {
  struct Collect : Consumer {
    void onResponse(const HttpResponse&) override {}
    void onBody(std::string_view bytes) override { body.append(bytes); }
    std::string body;
  } collect;
  Data data;
  data.response = impl_->perform(request, collect);
  data.body = std::move(collect.body);
  return data;
}

HttpResponse UrlSession::stream(const HttpRequest& request,
                                const std::function<void(const HttpResponse&)>& onResponse,
                                const std::function<void(std::string_view)>& onBody) {
  struct Forward : Consumer {
    Forward(const std::function<void(const HttpResponse&)>& r, const std::function<void(std::string_view)>& b)
        : response(r), body(b) {}
    void onResponse(const HttpResponse& head) override {
      if (response) response(head);
    }
    void onBody(std::string_view bytes) override {
      if (body) body(bytes);
    }
    const std::function<void(const HttpResponse&)>& response;
    const std::function<void(std::string_view)>& body;
  } forward(onResponse, onBody);
  return impl_->perform(request, forward);
}

UrlSession::Started UrlSession::start(const HttpRequest& request,
                                      std::function<void(const HttpResponse&)> onResponse,
                                      std::function<void(std::string_view)> onBody) {
  // Owns the callbacks for as long as the exchange runs.
  struct Keep : Consumer {
    Keep(std::function<void(const HttpResponse&)> r, std::function<void(std::string_view)> b)
        : response(std::move(r)), body(std::move(b)) {}
    void onResponse(const HttpResponse& head) override {
      if (response) response(head);
    }
    void onBody(std::string_view bytes) override {
      if (body) body(bytes);
    }
    std::function<void(const HttpResponse&)> response;
    std::function<void(std::string_view)> body;
  };
  auto keep = std::make_unique<Keep>(std::move(onResponse), std::move(onBody));
  auto state = std::make_unique<Started::State>(*impl_, request, *keep, false);
  state->ownedConsumer = std::move(keep);
  if (request.body && !request.bodyFile) state->ownedBody = *request.body;
  try {
    state->openBody(request);
    state->startHop();
  } catch (...) {
    state->startFailure = std::current_exception();
  }
  return Started(std::move(state));
}

UrlSession::Download UrlSession::download(const HttpRequest& request, const std::string& directory) {
  struct ToFile : Consumer {
    explicit ToFile(DownloadFile& f) : file(f) {}
    void onResponse(const HttpResponse&) override {}
    void onBody(std::string_view bytes) override { file.write(bytes); }
    DownloadFile& file;
  };
  DownloadFile file(directory);
  ToFile sink(file);
  Download download;
  download.response = impl_->perform(request, sink, true);
  file.keep();
  download.file = file.path();
  download.size = file.size();
  return download;
}

long UrlSession::connectionsOpened() const { return impl_->connections.load(); }

}  // namespace davfp::platform
