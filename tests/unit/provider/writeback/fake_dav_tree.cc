#include "fake_dav_tree.h"

#include <cctype>
#include <stdexcept>

#include "platform/url.h"
#include "state/paths.h"

namespace davfp::testing {

namespace {

using Reply = FakeServer::Reply;

bool unreserved(unsigned char c) {
  return std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~' || c == '/';
}

// The server path of a request target under prefix, and whether it ended in "/"; none outside the prefix.
std::optional<std::pair<std::string, bool>> serverPath(const std::string& target, const std::string& prefix) {
  auto url = platform::Url::parse(target);
  if (!url) return std::nullopt;
  auto decoded = platform::percentDecode(url->path);
  if (!decoded || decoded->rfind(prefix, 0) != 0) return std::nullopt;
  std::string path = decoded->substr(prefix.size());
  if (path.empty()) path = "/";
  if (path[0] != '/') return std::nullopt;
  bool slash = path.size() > 1 && path.back() == '/';
  if (slash) path.pop_back();
  return std::make_pair(path, slash);
}

bool under(const std::string& path, const std::string& folder) {
  return path == folder || folder == "/" || path.rfind(folder + "/", 0) == 0;
}

}  // namespace

FakeDavTree::FakeDavTree(FakeServer& server, std::string prefix) : prefix_(std::move(prefix)) {
  nodes_["/"] = Node{.folder = true, .body = {}, .etag = "\"root\""};
  server.setHandler([this](const FakeServer::Received& r) { return handle(r); });
}

std::string FakeDavTree::nextEtag() {
  std::string tag = "\"e" + std::to_string(++written_) + "\"";
  return weak_ ? "W/" + tag : tag;
}

void FakeDavTree::addFolder(const std::string& path) {
  std::lock_guard lock(mu_);
  if (!nodes_.contains(parentPath(path))) throw std::logic_error("no parent for " + path);
  nodes_[path] = Node{.folder = true, .body = {}, .etag = nextEtag()};
}

void FakeDavTree::addFile(const std::string& path, const std::string& body) {
  std::lock_guard lock(mu_);
  if (!nodes_.contains(parentPath(path))) throw std::logic_error("no parent for " + path);
  nodes_[path] = Node{.folder = false, .body = body, .etag = nextEtag()};
}

void FakeDavTree::touch(const std::string& path, const std::string& body) { addFile(path, body); }

void FakeDavTree::remove(const std::string& path) {
  std::lock_guard lock(mu_);
  std::erase_if(nodes_, [&](const auto& node) { return node.first != "/" && under(node.first, path); });
}

void FakeDavTree::beforeEach(std::function<void(const FakeServer::Received&)> hook) {
  std::lock_guard lock(mu_);
  hook_ = std::move(hook);
}

bool FakeDavTree::has(const std::string& path) const {
  std::lock_guard lock(mu_);
  return nodes_.contains(path);
}

bool FakeDavTree::isFolder(const std::string& path) const {
  std::lock_guard lock(mu_);
  auto it = nodes_.find(path);
  return it != nodes_.end() && it->second.folder;
}

std::optional<std::string> FakeDavTree::body(const std::string& path) const {
  std::lock_guard lock(mu_);
  auto it = nodes_.find(path);
  if (it == nodes_.end() || it->second.folder) return std::nullopt;
  return it->second.body;
}

std::string FakeDavTree::etag(const std::string& path) const {
  std::lock_guard lock(mu_);
  return nodes_.at(path).etag;
}

std::vector<std::string> FakeDavTree::paths() const {
  std::lock_guard lock(mu_);
  std::vector<std::string> out;
  for (const auto& [path, node] : nodes_) {
    if (path != "/") out.push_back(path);
  }
  return out;
}

void FakeDavTree::setWeakWrites(bool weak) {
  std::lock_guard lock(mu_);
  weak_ = weak;
}

void FakeDavTree::strengthen() {
  std::lock_guard lock(mu_);
  for (auto& [path, node] : nodes_) {
    if (node.etag.rfind("W/", 0) == 0) node.etag.erase(0, 2);
  }
}

std::string FakeDavTree::href(const std::string& path, const Node& node) const {
  std::string out = platform::percentEncode(prefix_ + path, unreserved);
  if (node.folder && out.back() != '/') out += '/';
  return out;
}

Reply FakeDavTree::handle(const FakeServer::Received& request) {
  std::function<void(const FakeServer::Received&)> hook;
  {
    std::lock_guard lock(mu_);
    hook = hook_;
  }
  if (hook) hook(request);
  auto target = serverPath(request.target, prefix_);
  if (!target) return Reply{.status = 404};
  const auto& [path, slash] = *target;
  if (request.method == "PROPFIND") return propfind(path, request);
  if (request.method == "MOVE") return move(path, slash, request);

  std::lock_guard lock(mu_);
  auto it = nodes_.find(path);
  auto parent = nodes_.find(parentPath(path));
  if (request.method == "PUT") {
    if (parent == nodes_.end() || !parent->second.folder) return Reply{.status = 409};
    if (it != nodes_.end() && it->second.folder) return Reply{.status = 405};
    bool created = it == nodes_.end();
    nodes_[path] = Node{.folder = false, .body = request.body, .etag = nextEtag()};
    return Reply{.status = created ? 201 : 204};
  }
  if (request.method == "MKCOL") {
    if (it != nodes_.end()) return Reply{.status = 405};
    if (!slash) return Reply{.status = 409};
    if (parent == nodes_.end() || !parent->second.folder) return Reply{.status = 409};
    nodes_[path] = Node{.folder = true, .body = {}, .etag = nextEtag()};
    return Reply{.status = 201};
  }
  if (request.method == "DELETE") {
    if (it == nodes_.end()) return Reply{.status = 404};
    if (it->second.folder != slash || path == "/") return Reply{.status = 409};
    std::erase_if(nodes_, [&](const auto& node) { return under(node.first, path); });
    return Reply{.status = 204};
  }
  if (request.method == "GET") {
    if (it == nodes_.end() || it->second.folder) return Reply{.status = 404};
    return Reply{.status = 200, .body = it->second.body};
  }
  return Reply{.status = 405};
}

Reply FakeDavTree::propfind(const std::string& path, const FakeServer::Received& request) {
  std::lock_guard lock(mu_);
  auto it = nodes_.find(path);
  if (it == nodes_.end()) return Reply{.status = 404};
  std::vector<std::pair<std::string, const Node*>> listed{{path, &it->second}};
  if (request.header("Depth").value_or("infinity") != "0" && it->second.folder) {
    for (const auto& [child, node] : nodes_) {
      if (child != "/" && child != path && parentPath(child) == path) listed.emplace_back(child, &node);
    }
  }
  std::string body = "<?xml version=\"1.0\" encoding=\"utf-8\"?><D:multistatus xmlns:D=\"DAV:\">";
  for (const auto& [p, node] : listed) {
    body += "<D:response><D:href>" + href(p, *node) + "</D:href><D:propstat><D:prop><D:resourcetype>" +
            (node->folder ? "<D:collection/>" : "") + "</D:resourcetype><D:getcontentlength>" +
            std::to_string(node->body.size()) +
            "</D:getcontentlength><D:getlastmodified>Mon, 01 Jan 2024 00:00:00 GMT</D:getlastmodified>"
            "<D:getetag>" +
            node->etag +
            "</D:getetag></D:prop><D:status>HTTP/1.1 200 OK</D:status></D:propstat></D:response>";
  }
  body += "</D:multistatus>";
  return Reply{.status = 207, .headers = {{"Content-Type", "application/xml; charset=utf-8"}}, .body = body};
}

Reply FakeDavTree::move(const std::string& from, bool slash, const FakeServer::Received& request) {
  auto destination = request.header("Destination");
  if (!destination) return Reply{.status = 400};
  auto url = platform::Url::parse(*destination);
  if (!url) return Reply{.status = 400};
  auto to = serverPath(url->path, prefix_);
  if (!to) return Reply{.status = 502};
  const auto& [target, targetSlash] = *to;

  std::lock_guard lock(mu_);
  auto it = nodes_.find(from);
  if (it == nodes_.end()) return Reply{.status = 404};
  if (slash != it->second.folder || targetSlash != slash) return Reply{.status = 409};
  if (under(target, from)) return Reply{.status = 403};
  auto parent = nodes_.find(parentPath(target));
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
  return Reply{.status = exists ? 204 : 201};
}

}  // namespace davfp::testing
