// FakeDavTree: an in-memory WebDAV file tree served through a FakeServer's handler, for the write-back tests.
//
// It answers PROPFIND (depth 0 and 1), PUT, MKCOL, MOVE (honouring "Overwrite: F") and DELETE under a URL
// prefix, and is as strict about collections as nginx: a folder addressed without its trailing "/" by MKCOL,
// MOVE or DELETE is refused with 409, and so is a MOVE whose source and Destination disagree about it. Every
// write gives the written resource a new entity tag ("e1", "e2"... or weak, W/"e1", while weakWrites is set).
// Replies scripted with FakeServer::on() take precedence and leave the tree untouched. Thread-safe.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "support/fake_server.h"

namespace davfp::testing {

class FakeDavTree {
 public:
  // Serves the tree under prefix ("/dav" serves "/dav/..."; the drive's URL is then server.url("/dav/")).
  explicit FakeDavTree(FakeServer& server, std::string prefix = "/dav");

  // Server paths as the engine uses them ("/a/b"); parents must exist.
  void addFolder(const std::string& path);
  void addFile(const std::string& path, const std::string& body = {});
  // Rewrites a file as another client would: new contents, new entity tag.
  void touch(const std::string& path, const std::string& body);
  // Removes path and everything under it, as another client would.
  void remove(const std::string& path);
  // Runs hook with every request the tree answers, just before it answers (not for scripted replies).
  void beforeEach(std::function<void(const FakeServer::Received&)> hook);

  bool has(const std::string& path) const;
  bool isFolder(const std::string& path) const;
  std::optional<std::string> body(const std::string& path) const;
  std::string etag(const std::string& path) const;
  // Every path in the tree but the root, sorted.
  std::vector<std::string> paths() const;

  // New entity tags are weak while set, as Apache's are for a moment after a write.
  void setWeakWrites(bool weak);
  // Turns every weak entity tag into the strong one, as Apache does a second after the write.
  void strengthen();

 private:
  struct Node {
    bool folder = false;
    std::string body;
    std::string etag;
  };

  FakeServer::Reply handle(const FakeServer::Received& request);
  FakeServer::Reply propfind(const std::string& path, const FakeServer::Received& request);
  FakeServer::Reply move(const std::string& from, bool slash, const FakeServer::Received& request);
  // REQUIRES: mu_ held.
  std::string nextEtag();
  std::string href(const std::string& path, const Node& node) const;

  const std::string prefix_;
  mutable std::mutex mu_;
  std::map<std::string, Node> nodes_;  // guarded by mu_; path -> node, the root "/" always there
  int written_ = 0;                    // guarded by mu_
  bool weak_ = false;                  // guarded by mu_
  std::function<void(const FakeServer::Received&)> hook_;  // guarded by mu_
};

}  // namespace davfp::testing
