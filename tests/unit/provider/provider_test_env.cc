#include "unit/provider/provider_test_env.h"

#include <algorithm>
#include <filesystem>

#include "platform/url.h"
#include "state/paths.h"

namespace davfp::testing {

namespace {

constexpr std::string_view kPrefix = "/dav";

bool pathCharacter(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
         c == '_' || c == '~' || c == '/';
}

std::string escapeXml(std::string_view s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// The server path a request target names under /dav/, or none.
std::optional<std::string> servedPath(std::string_view target) {
  if (!target.starts_with(kPrefix)) return std::nullopt;
  target.remove_prefix(kPrefix.size());
  if (target.empty() || target.front() != '/') return std::nullopt;
  while (target.size() > 1 && target.back() == '/') target.remove_suffix(1);
  return platform::percentDecode(target);
}

}  // namespace

std::string davTarget(const std::string& path, bool isDir) {
  std::string out(kPrefix);
  out += platform::percentEncode(path, pathCharacter);
  if (isDir && path != "/") out += '/';
  return out;
}

std::string multistatus(const std::vector<std::pair<std::string, ServedNode>>& responses) {
  std::string out = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<D:multistatus xmlns:D=\"DAV:\">\n";
  for (const auto& [href, node] : responses) {
    out += "<D:response><D:href>" + escapeXml(href) + "</D:href><D:propstat><D:prop>";
    out += node.isDir ? "<D:resourcetype><D:collection/></D:resourcetype>" : "<D:resourcetype/>";
    if (!node.isDir)
      out += "<D:getcontentlength>" + std::to_string(node.body.size()) + "</D:getcontentlength>";
    if (node.etag) out += "<D:getetag>" + escapeXml(*node.etag) + "</D:getetag>";
    if (node.modified) out += "<D:getlastmodified>" + *node.modified + "</D:getlastmodified>";
    out += "</D:prop><D:status>HTTP/1.1 200 OK</D:status></D:propstat></D:response>\n";
  }
  out += "</D:multistatus>\n";
  return out;
}

ServedTree::ServedTree() { nodes_["/"] = ServedNode{.isDir = true}; }

void ServedTree::folder(const std::string& path, std::optional<std::string> etag) {
  std::lock_guard guard(mu_);
  for (std::string p = parentPath(path); p != "/"; p = parentPath(p)) {
    nodes_.try_emplace(p, ServedNode{.isDir = true});
  }
  nodes_[path] = ServedNode{.isDir = true, .etag = std::move(etag)};
}

void ServedTree::file(const std::string& path, std::string body, std::optional<std::string> etag,
                      std::optional<std::string> modified) {
  std::lock_guard guard(mu_);
  for (std::string p = parentPath(path); p != "/"; p = parentPath(p)) {
    nodes_.try_emplace(p, ServedNode{.isDir = true});
  }
  nodes_[path] =
      ServedNode{.body = std::move(body), .etag = std::move(etag), .modified = std::move(modified)};
}

void ServedTree::remove(const std::string& path) {
  std::lock_guard guard(mu_);
  std::erase_if(nodes_, [&](const auto& node) { return isUnder(node.first, path); });
}

void ServedTree::fail(const std::string& target, FakeServer::Reply reply) {
  std::lock_guard guard(mu_);
  failures_[target] = std::move(reply);
}

void ServedTree::heal() {
  std::lock_guard guard(mu_);
  failures_.clear();
}

FakeServer::Reply ServedTree::answer(const FakeServer::Received& request) const {
  auto path = servedPath(request.target);
  std::lock_guard guard(mu_);
  if (auto failure = failures_.find(request.target); failure != failures_.end()) return failure->second;
  auto it = path ? nodes_.find(*path) : nodes_.end();
  if (it == nodes_.end()) return {.status = 404};
  if (request.method == "GET") {
    if (it->second.isDir) return {.status = 405};
    return {.status = 200, .body = it->second.body};
  }
  if (request.method != "PROPFIND") return {.status = 405};
  std::vector<std::pair<std::string, ServedNode>> responses = {
      {davTarget(*path, it->second.isDir), it->second}};
  if (request.header("Depth") == "1" && it->second.isDir) {
    for (const auto& [p, node] : nodes_) {
      if (p != *path && parentPath(p) == *path) responses.emplace_back(davTarget(p, node.isDir), node);
    }
  }
  return {.status = 207,
          .headers = {{"Content-Type", "application/xml; charset=utf-8"}},
          .body = multistatus(responses)};
}

ProviderTestEnv::ProviderTestEnv() : EnvWrapper(platform::Env::standard()) {
  std::filesystem::create_directories(dir.file("group"));
  std::filesystem::create_directories(dir.file("tmp"));
}

void ProviderTestEnv::publish(const std::string& domain, const std::string& url) {
  writeFile(dir.file("group/drives.json"),
            "{\"" + domain + "\": {\"name\": \"Test drive\", \"url\": \"" + url + "\"}}");
}

std::vector<std::string> ProviderTestEnv::temporaryFiles() const {
  std::vector<std::string> out;
  for (const auto& e : std::filesystem::directory_iterator(dir.file("tmp"))) out.push_back(e.path().string());
  return out;
}

std::optional<std::string> ProviderTestEnv::groupContainer(std::string_view) { return dir.file("group"); }

std::optional<std::string> ProviderTestEnv::applicationDataDirectory(std::string_view bundleID) {
  return dir.file("data/" + std::string(bundleID));
}

void ProviderTestEnv::writeFileAtomically(const std::string& path, std::string_view bytes) {
  ++writes;
  target().writeFileAtomically(path, bytes);
}

void ProviderTestEnv::removeFile(const std::string& path) {
  target().removeFile(path);
  if (onRemove) onRemove(path);
}

std::optional<std::string> ProviderTestEnv::typeForFilenameExtension(std::string_view extension) {
  if (onTypeLookup) onTypeLookup(extension);
  return target().typeForFilenameExtension(extension);
}

DavTimings fastTimings() {
  DavTimings t;
  t.requestTimeout = std::chrono::seconds(20);
  t.probeTimeout = std::chrono::seconds(5);
  t.pollInterval = std::chrono::milliseconds(1);
  t.polls = 0;
  return t;
}

ProviderTest::ProviderTest() {
  server.setHandler([this](const FakeServer::Received& request) { return tree.answer(request); });
  env.publish(std::string(kDomain), server.url("/dav/"));
}

std::shared_ptr<FileProviderExtension> ProviderTest::extension(std::string domain) {
  return FileProviderExtension::create({std::move(domain), std::string(kDisplayName)}, env, fastTimings());
}

namespace {

// Waits for one completion handler call.
template <class T>
class Completion {
 public:
  void set(T value) {
    std::lock_guard guard(mu_);
    ++calls_;
    value_ = std::move(value);
    cv_.notify_all();
  }
  T get() {
    std::unique_lock lock(mu_);
    EXPECT_TRUE(cv_.wait_for(lock, std::chrono::seconds(30), [this] { return calls_ > 0; }))
        << "no completion";
    EXPECT_EQ(calls_, 1);
    return value_;
  }

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  int calls_ = 0;
  T value_;
};

}  // namespace

ProviderTest::Looked ProviderTest::lookup(FileProviderExtension& ext, const platform::ItemIdentifier& id) {
  auto done = std::make_shared<Completion<Looked>>();
  ext.itemForIdentifier(id, {}, [done](platform::ItemRef item, std::optional<platform::Error> error) {
    done->set({std::move(item), std::move(error)});
  });
  return done->get();
}

ProviderTest::Fetched ProviderTest::fetch(FileProviderExtension& ext, const platform::ItemIdentifier& id) {
  auto done = std::make_shared<Completion<Fetched>>();
  ext.fetchContents(
      id, std::nullopt, {},
      [done](std::optional<std::string> file, platform::ItemRef item, std::optional<platform::Error> error) {
        done->set({std::move(file), std::move(item), std::move(error)});
      });
  return done->get();
}

std::shared_ptr<RecordingObserver> ProviderTest::enumerate(FileProviderExtension& ext,
                                                           const platform::ItemIdentifier& container) {
  auto rec = RecordingObserver::make();
  ext.enumerator(container, {})->enumerateItems(rec->handle(), platform::kInitialPageSortedByName);
  rec->wait();
  return rec;
}

std::shared_ptr<RecordingObserver> ProviderTest::changes(FileProviderExtension& ext,
                                                         const platform::ItemIdentifier& container) {
  auto rec = RecordingObserver::make();
  ext.enumerator(container, {})->enumerateChanges(rec->handle(), "1");
  rec->wait();
  return rec;
}

std::string ProviderTest::idOf(FileProviderExtension& ext, const std::string& path) {
  return ext.state().existingId(path).value_or("");
}

std::vector<std::string> ProviderTest::exchanges() const {
  std::vector<std::string> out;
  for (const auto& r : server.requests()) {
    if (r.method == "OPTIONS") continue;
    std::string line = r.method + " " + r.target;
    if (r.method == "PROPFIND") line += " " + r.header("Depth").value_or("?");
    out.push_back(std::move(line));
  }
  return out;
}

void Signal::notify() {
  std::lock_guard guard(mu_);
  done_ = true;
  cv_.notify_all();
}

bool Signal::wait(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mu_);
  return cv_.wait_for(lock, timeout, [this] { return done_; });
}

Strings sorted(Strings strings) {
  std::sort(strings.begin(), strings.end());
  return strings;
}

platform::ItemRef findItem(const std::vector<platform::ItemRef>& items, const platform::ItemIdentifier& id) {
  for (const auto& item : items) {
    if (item->itemIdentifier() == id) return item;
  }
  return nullptr;
}

std::vector<std::string> filenames(const std::vector<platform::ItemRef>& items) {
  std::vector<std::string> out;
  for (const auto& item : items) out.push_back(item->filename());
  return out;
}

}  // namespace davfp::testing
