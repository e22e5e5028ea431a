#include "support/served_tree.h"

#include <gtest/gtest.h>

#include <cctype>

#include "platform/url.h"
#include "support/dav_test_util.h"

namespace davfp::testing {

namespace {

using Reply = FakeServer::Reply;

constexpr std::string_view kPrefix = "/dav";

std::string parentOf(const std::string& path) {
  auto slash = path.rfind('/');
  return slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
}

bool under(const std::string& path, const std::string& folder) {
  return path == folder || folder == "/" || path.starts_with(folder + "/");
}

bool unreserved(unsigned char c) {
  return std::isalnum(c) || std::string_view("-._~/").find(static_cast<char>(c)) != std::string_view::npos;
}

// The server path that a request target or a Destination URL names below the prefix, and whether it ended in
// "/"; none outside the prefix.
std::optional<std::pair<std::string, bool>> served(std::string_view target) {
  auto encoded = platform::pathOfReference(target);
  auto decoded = encoded ? platform::percentDecode(*encoded) : std::nullopt;
  if (!decoded || !decoded->starts_with(kPrefix)) return std::nullopt;
  std::string path = decoded->substr(kPrefix.size());
  if (path.empty()) path = "/";
  if (path[0] != '/') return std::nullopt;
  bool slash = path.size() > 1 && path.back() == '/';
  if (slash) path.pop_back();
  return std::make_pair(path, slash);
}

}  // namespace

ServedTree::ServedTree(FakeServer& server) : server_(server) {
  nodes_["/"] = Node{.folder = true};
  server.setHandler([this](const FakeServer::Received& request) { return answer(request); });
}

ServedTree::~ServedTree() { server_.stop(); }

std::string ServedTree::newTag() { return "\"e" + std::to_string(++written_) + "\""; }

void ServedTree::put(const std::string& path, Node node) {
  if (node.etag == "") node.etag = newTag();
  for (std::string p = parentOf(path); p != "/"; p = parentOf(p)) {
    if (!nodes_.contains(p)) nodes_[p] = Node{.folder = true, .etag = newTag()};
  }
  nodes_[path] = std::move(node);
  changed();
}

void ServedTree::remove(const std::string& path) {
  std::lock_guard lock(mu_);
  std::erase_if(nodes_, [&](const auto& node) { return node.first != "/" && under(node.first, path); });
  changed();
}

void ServedTree::changed(std::optional<std::pair<std::string, std::string>> moved) {
  if (changeHook_) changeHook_(Change{pathsLocked(), std::move(moved)});
}

std::vector<std::string> ServedTree::pathsLocked() const {
  std::vector<std::string> out;
  for (const auto& [path, node] : nodes_) {
    if (path != "/") out.push_back(path);
  }
  return out;
}

std::vector<std::string> ServedTree::sent() {
  std::vector<std::string> out;
  const std::string origin = server_.url("");
  for (const auto& r : server_.requests()) {
    if (r.method == "OPTIONS") continue;
    std::string line = r.method;
    if (r.method == "PROPFIND") line += " " + r.header("Depth").value_or("?");
    line += " " + r.target;
    if (r.method == "MOVE") {
      std::string destination = r.header("Destination").value_or("?");
      if (destination.starts_with(origin)) destination.erase(0, origin.size());
      line += " " + destination;
      EXPECT_EQ(r.header("Overwrite"), "F") << line;
    }
    out.push_back(std::move(line));
  }
  server_.clearRequests();
  return out;
}

Reply ServedTree::answer(const FakeServer::Received& request) {
  Reply reply = respond(request);
  std::lock_guard lock(mu_);
  if (lost_ && lost_->first == request.method && lost_->second == request.target) {
    reply.dropAfterBytes = 0;
    lost_.reset();
  }
  return reply;
}

Reply ServedTree::respond(const FakeServer::Received& request) {
  std::function<void(const FakeServer::Received&)> hook;
  {
    std::lock_guard lock(mu_);
    if (auto failure = failures_.find(request.target); failure != failures_.end()) return failure->second;
    hook = hook_;
  }
  if (hook) hook(request);
  auto target = served(request.target);
  if (!target) return Reply{.status = 404};
  const auto& [path, slash] = *target;
  if (request.method == "MOVE") return move(path, slash, request);

  std::lock_guard lock(mu_);
  auto it = nodes_.find(path);
  auto parent = nodes_.find(parentOf(path));
  const bool inFolder = parent != nodes_.end() && parent->second.folder;
  if (request.method == "PROPFIND") {
    if (it == nodes_.end()) return Reply{.status = 404};
    std::vector<Listed> listed;
    auto add = [&](const std::string& p, const Node& n) {
      std::string href = platform::percentEncode(std::string(kPrefix) + p, unreserved);
      if (n.folder && !href.ends_with('/')) href += '/';
      listed.push_back({href, n.folder, static_cast<int64_t>(n.body.size()), n.etag, n.modified});
    };
    add(path, it->second);
    if (it->second.folder && request.header("Depth") != "0") {
      for (const auto& [p, node] : nodes_) {
        if (p != "/" && p != path && parentOf(p) == path) add(p, node);
      }
    }
    return Reply{.status = 207,
                 .headers = {{"Content-Type", "application/xml; charset=utf-8"}},
                 .body = multistatus(listed)};
  }
  if (request.method == "GET") {
    if (it == nodes_.end() || it->second.folder) return Reply{.status = 404};
    return Reply{.body = it->second.body};
  }
  if (request.method == "PUT") {
    if (!inFolder) return Reply{.status = 409};
    if (it != nodes_.end() && it->second.folder) return Reply{.status = 405};
    bool created = it == nodes_.end();
    nodes_[path] = Node{.body = request.body, .etag = newTag()};
    changed();
    return Reply{.status = created ? 201 : 204};
  }
  if (request.method == "MKCOL") {
    if (it != nodes_.end()) return Reply{.status = 405};
    if (!slash || !inFolder) return Reply{.status = 409};
    nodes_[path] = Node{.folder = true, .etag = newTag()};
    changed();
    return Reply{.status = 201};
  }
  if (request.method == "DELETE") {
    if (it == nodes_.end()) return Reply{.status = 404};
    if (it->second.folder != slash || path == "/") return Reply{.status = 409};
    std::erase_if(nodes_, [&](const auto& node) { return under(node.first, path); });
    changed();
    return Reply{.status = 204};
  }
  return Reply{.status = 405};
}

Reply ServedTree::move(const std::string& from, bool slash, const FakeServer::Received& request) {
  auto to = served(request.header("Destination").value_or(""));
  if (!to) return Reply{.status = 400};
  const auto& [target, targetSlash] = *to;

  std::lock_guard lock(mu_);
  auto it = nodes_.find(from);
  if (it == nodes_.end()) return Reply{.status = 404};
  if (slash != it->second.folder || targetSlash != slash) return Reply{.status = 409};
  if (under(target, from)) return Reply{.status = 403};
  auto parent = nodes_.find(parentOf(target));
  if (parent == nodes_.end() || !parent->second.folder) return Reply{.status = 409};
  bool exists = nodes_.contains(target);
  if (exists && request.header("Overwrite").value_or("T") == "F") return Reply{.status = 412};
  if (exists) std::erase_if(nodes_, [&](const auto& node) { return under(node.first, target); });
  std::map<std::string, Node> moved;
  for (auto node = nodes_.begin(); node != nodes_.end();) {
    if (under(node->first, from)) {
      moved[target + node->first.substr(from.size())] = std::move(node->second);
      node = nodes_.erase(node);
    } else {
      ++node;
    }
  }
  nodes_.merge(moved);
  changed(std::make_pair(from, target));
  return Reply{.status = exists ? 204 : 201};
}

}  // namespace davfp::testing
