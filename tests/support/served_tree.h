// ServedTree: a WebDAV folder tree in memory, served by a FakeServer under "/dav" (the drive's URL is then
// server.url("/dav/")), for the tests of the extension and its write-back.
//
// It answers PROPFIND (depth 0: the resource; otherwise the folder first, then its children by path), GET,
// PUT, MKCOL, MOVE (honouring "Overwrite: F") and DELETE, and is as strict about collections as nginx: a
// folder addressed without its trailing "/" by MKCOL, MOVE or DELETE is refused with 409, and so is a MOVE
// whose source and Destination disagree about it. Every write gives the written resource a new entity tag
// ("e1", "e2"...). Replies scripted with FakeServer::on() come first and leave the tree untouched.
//
// The tree stops its server when it goes, so that no request reaches a tree that is gone: declare it after
// the server. Thread-safe: the server's threads read the tree while a test changes it.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "support/fake_server.h"

namespace davfp::testing {

class ServedTree {
 public:
  explicit ServedTree(FakeServer& server);
  ~ServedTree();

  // Adds or replaces the folder or file at path (a server path, "/a/b"), adding missing parent folders. The
  // entity tag is a new one unless given ("" too); a given none leaves getetag out, and so does a missing date.
  void folder(const std::string& path, std::optional<std::string> etag = "") {
    locked([&] { put(path, Node{.folder = true, .etag = std::move(etag)}); });
  }
  void file(const std::string& path, std::string body = {}, std::optional<std::string> etag = "",
            std::optional<std::string> modified = std::nullopt) {
    locked([&] {
      put(path, Node{.body = std::move(body), .etag = std::move(etag), .modified = std::move(modified)});
    });
  }
  // Removes path and everything under it, as another client would.
  void remove(const std::string& path);
  // Answers every request for target (as sent: "/dav/a%20b/") with reply instead, until heal().
  void fail(const std::string& target, FakeServer::Reply reply) {
    locked([&] { failures_[target] = std::move(reply); });
  }
  void heal() {
    locked([&] { failures_.clear(); });
  }
  // Does the next request of this method for target (as sent), then breaks its connection before the answer:
  // the request's answer is lost after the tree changed.
  void loseAnswer(std::string method, std::string target) {
    locked([&] { lost_.emplace(std::move(method), std::move(target)); });
  }
  // Runs hook with every request the tree answers, just before it answers.
  void beforeEach(std::function<void(const FakeServer::Received&)> hook) {
    locked([&] { hook_ = std::move(hook); });
  }
  // What one change did to the tree: its paths just after (as paths() gives them) and, for a MOVE, the path
  // moved and where it went.
  struct Change {
    std::vector<std::string> paths;
    std::optional<std::pair<std::string, std::string>> moved;
  };
  // Runs hook after every change to the tree, by a request or by the test, in the order of the changes and
  // with the tree's lock held: hook must not call the tree. Once this returns, the hook given before runs no
  // more.
  void afterEachChange(std::function<void(const Change&)> hook) {
    locked([&] { changeHook_ = std::move(hook); });
  }

  bool has(const std::string& path) const {
    return locked([&] { return nodes_.contains(path); });
  }
  // A file's contents; none for a folder or a missing path.
  std::optional<std::string> body(const std::string& path) const {
    return locked([&]() -> std::optional<std::string> {
      if (!nodes_.contains(path) || nodes_.at(path).folder) return std::nullopt;
      return nodes_.at(path).body;
    });
  }
  std::string etag(const std::string& path) const {
    return locked([&] { return nodes_.at(path).etag.value_or(""); });
  }
  // Every path in the tree but the root, sorted.
  std::vector<std::string> paths() const {
    return locked([&] { return pathsLocked(); });
  }

  // The requests since the last call, without the server probes (OPTIONS): "METHOD target", a PROPFIND with
  // its depth ("PROPFIND 1 /dav/a/"), a MOVE with its destination's path ("MOVE /dav/a /dav/b").
  std::vector<std::string> sent();

 private:
  struct Node {
    bool folder = false;
    std::string body;
    std::optional<std::string> etag;
    std::optional<std::string> modified;
  };

  template <class F>
  std::invoke_result_t<F> locked(F f) const {
    std::lock_guard lock(mu_);
    return f();
  }
  FakeServer::Reply answer(const FakeServer::Received& request);
  FakeServer::Reply respond(const FakeServer::Received& request);
  FakeServer::Reply move(const std::string& from, bool slash, const FakeServer::Received& request);
  void put(const std::string& path, Node node);  // REQUIRES: mu_ held
  std::string newTag();                          // REQUIRES: mu_ held
  std::vector<std::string> pathsLocked() const;  // REQUIRES: mu_ held
  // Runs the change hook; REQUIRES: mu_ held.
  void changed(std::optional<std::pair<std::string, std::string>> moved = std::nullopt);

  FakeServer& server_;
  mutable std::mutex mu_;
  std::map<std::string, Node> nodes_;                        // guarded by mu_; path -> node, "/" always there
  std::map<std::string, FakeServer::Reply> failures_;        // guarded by mu_; request target -> reply
  std::function<void(const FakeServer::Received&)> hook_;    // guarded by mu_
  std::function<void(const Change&)> changeHook_;            // guarded by mu_
  std::optional<std::pair<std::string, std::string>> lost_;  // guarded by mu_; method and target
  int written_ = 0;                                          // guarded by mu_
};

}  // namespace davfp::testing
