// Dav: the WebDAV client of one domain.
//
// It finds its server through a ServerDiscovery and caches the answer (one resolution in flight), and looks
// for the server anew once after losing it. Every exchange runs inside withServer(). Dav holds no mutable
// state of its own besides the server cache; any number of jobs may use one Dav at once. Always owned by a
// shared_ptr (see create()): a running resolution keeps the client alive.
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dav/dav_error.h"
#include "dav/dav_timings.h"
#include "dav/entry.h"
#include "dav/listing.h"
#include "dav/listing_receiver.h"
#include "dav/server_cache.h"
#include "dav/server_discovery.h"
#include "platform/env.h"
#include "platform/url_session.h"

namespace davfp {

// What a path names, where the engine knows it: collections are addressed with a trailing "/", since common
// servers redirect or refuse folder requests without it.
enum class Target { resource, collection };

class Dav : public std::enable_shared_from_this<Dav> {
 public:
  static std::shared_ptr<Dav> create(std::string domain, platform::Env& env = platform::Env::standard(),
                                     DavTimings timings = {});

  const std::string& domain() const { return domain_; }

  // One request with the given method; returns the response body (its first MiB: no more is read). A DELETE
  // or MOVE answered 207 (some member was kept) fails with a MultiStatusFailure (dav/multistatus.h).
  std::string send(std::string_view method, std::string_view path, const platform::HeaderList& headers = {},
                   const std::optional<std::string>& body = std::nullopt, Target target = Target::resource);
  // PROPFIND with the given depth (a depth-1 listing addresses the folder as a collection); the entries in
  // document order: listing()'s, parsed, and failing as Listing::entries() does on an answer that is no
  // whole listing.
  std::vector<DavEntry> list(std::string_view path, int depth);
  // The same PROPFIND, its answer taken as a Listing to be parsed afterwards (a large one is parsed while it
  // arrives). The exchange is over when this returns, so the next request may go out while it is parsed.
  Listing listing(std::string_view path, int depth);

  // The same listing in two steps on the calling thread (see platform::UrlSession::start), so that the caller
  // can parse one answer while the server prepares the next: startListing() sends the request, finish() takes
  // the answer. Movable; keeps its Dav alive. Destroying it unfinished ends its transfer. Not thread-safe.
  class StartedListing {
   public:
    // What listing() returns or throws, the retry after a lost server included (that retry runs here,
    // whole). Call once.
    Listing finish();

   private:
    friend class Dav;
    StartedListing() = default;

    std::shared_ptr<Dav> dav_;
    std::string path_;
    int depth_ = 1;
    std::optional<std::string> base_;                 // none when resolving it failed
    std::exception_ptr failure_;                      // what kept the exchange from starting
    std::unique_ptr<ListingReceiver> receiver_;       // declared before started_, which feeds it
    std::optional<platform::UrlSession::Started> started_;
  };
  StartedListing startListing(std::string_view path, int depth);

  // GET into a new file (mode 0600) in the temporary directory; the caller owns it. When the size is expected
  // (a listing reported it) and a different number of bytes arrives, the file is removed and the download
  // fails as a lost connection: a server may end a body that has no length by closing the connection, and a
  // body cut that way cannot be told from a whole one otherwise.
  std::string download(std::string_view path, std::optional<int64_t> expectedSize = std::nullopt);
  // PUT of the file's bytes, or of an empty body when there is no file. Returns the size of the body sent.
  int64_t upload(std::string_view path, const std::optional<std::string>& file);
  // MOVE without overwriting. A folder is moved as a collection (source and Destination with "/").
  void move(std::string_view from, std::string_view to, Target target = Target::resource);

  // Connections the session has opened so far.
  long connectionsOpened() const { return session_->connectionsOpened(); }

 private:
  Dav(std::string domain, platform::Env& env, DavTimings timings);

  // The cached base URL unless it equals stale; else the outcome of a resolution.
  std::string base(const std::optional<std::string>& stale);
  // True when error, from an exchange on base, means that the server is gone from there.
  bool gone(const std::string& base, std::exception_ptr error);

  // Runs body with the base URL; when it fails because the server is gone, resolves again and runs it once more.
  template <class Body>
  auto withServer(Body&& body) -> decltype(body(std::string()));
  // The same, the first attempt on base first being attempt(), and the retry on a fresh base again(fresh).
  template <class First, class Again>
  auto retried(const std::string& first, First&& attempt, Again&& again) -> decltype(attempt());
  // One listing exchange on base.
  Listing listingOn(std::string_view path, int depth, const std::string& base);
  // Whether a depth-0 listing on base finds the path.
  bool exists(std::string_view path, const std::string& base);

  platform::HttpRequest request(std::string_view method, std::string url) const;
  // The PROPFIND of a listing with the given depth, addressed on base.
  platform::HttpRequest propfind(std::string_view path, int depth, const std::string& base) const;

  const std::string domain_;
  platform::Env& env_;
  const DavTimings timings_;
  const std::unique_ptr<platform::UrlSession> session_;
  ServerDiscovery discovery_;  // uses session_, which is made before it
  ServerCache server_;
};

}  // namespace davfp
