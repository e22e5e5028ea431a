#include "mount/uploader.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <utility>

#include "client/template_item.h"
#include "platform/jobs.h"
#include "platform/mime_registry.h"

namespace davfp::mount {

namespace {

int64_t nowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// Errors after which the same request may well succeed later: the server or the network away for a while.
bool transient(const platform::Error& e) {
  if (e.domain() == platform::kURLErrorDomain) return true;
  if (e.is(platform::kFileProviderErrorDomain, platform::fp::kServerUnreachable)) return true;
  if (e.is(platform::kFileProviderErrorDomain, platform::fp::kNotAuthenticated)) return true;
  return e.is(platform::kCocoaErrorDomain, platform::cocoa::kUserCancelled);
}

// What was sent is on the disk before the journal holds the copy as the server's version: a crash of the
// machine must not leave a copy that differs from it.
void syncCopy(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;  // gone: the request fails on its own
  ::fdatasync(fd);
  ::close(fd);
}

// Syncs a copy on a pooled thread while the server takes it: the upload reads it from memory, so the two
// overlap. Waited for before the answer is settled (or when the send fails).
class CopySync {
 public:
  explicit CopySync(const std::optional<std::string>& path) {
    if (path) job_ = platform::spawn([file = *path] { syncCopy(file); });
  }
  ~CopySync() { wait(); }
  void wait() { job_.wait(); }

 private:
  platform::Job job_;
};

bool is(const platform::Error& e, long fpCode) { return e.is(platform::kFileProviderErrorDomain, fpCode); }

client::TemplateItem::Properties templateOf(const Node& node, const Node& parent) {
  client::TemplateItem::Properties p;
  p.identifier = node.identifier;
  p.parent = parent.identifier;
  p.filename = node.name;
  if (node.folder) p.contentType = std::string(platform::kFolderType);
  if (!node.folder) p.documentSize = node.size;
  p.contentModificationDate = platform::Date(
      std::chrono::duration_cast<platform::Date::duration>(std::chrono::nanoseconds(node.mtimeNs)));
  p.version = node.local ? platform::ItemVersion{platform::kBeforeFirstSyncComponent,
                                                 platform::kBeforeFirstSyncComponent}
                         : node.version;
  return p;
}

}  // namespace

Uploader::Uploader(client::PlatformClient& platform, Journal& journal, Outbox& outbox, const Replica& replica,
                   Notify notify, Log log, int senders)
    : platform_(platform),
      journal_(journal),
      outbox_(outbox),
      replica_(replica),
      notify_(std::move(notify)),
      log_(std::move(log)),
      senders_(std::max(senders, 1)) {}

Uploader::~Uploader() {
  stop();
  stopSenders();
}

void Uploader::start() {
  startSenders();
  dispatcher_ = std::jthread([this](std::stop_token stop) { dispatch(stop, false); });
}

void Uploader::stop() {
  if (!dispatcher_.joinable()) return;
  dispatcher_.request_stop();
  wake();
  dispatcher_.join();
}

void Uploader::wake(int64_t afterMs) {
  platform::MutexLock lock(mu_);
  if (afterMs > 0) {
    dueAt_ = std::min(dueAt_, nowMs() + afterMs);
  } else {
    woken_ = true;
  }
  cv_.notifyAll();
}

void Uploader::startSenders() {
  if (!senderThreads_.empty()) return;
  {
    platform::MutexLock lock(mu_);
    sendersEnd_ = false;
  }
  for (int i = 0; i < senders_; ++i)
    senderThreads_.emplace_back([this](std::stop_token stop) { sender(stop); });
}

void Uploader::stopSenders() {
  {
    platform::MutexLock lock(mu_);
    sendersEnd_ = true;
    handed_.notifyAll();
  }
  senderThreads_.clear();  // joins each after the entry it sends
}

void Uploader::sender(std::stop_token) {
  for (;;) {
    Op op;
    {
      platform::MutexLock lock(mu_);
      while (handedOut_.empty() && !sendersEnd_) handed_.wait(mu_);
      if (handedOut_.empty()) return;
      op = std::move(handedOut_.front());
      handedOut_.pop_front();
    }
    const bool sent = send(op);
    platform::MutexLock lock(mu_);
    --inFlight_;
    (sent ? succeeded_ : failed_) += 1;
    cv_.notifyAll();
  }
}

void Uploader::dispatch(std::stop_token stop, bool draining) {
  using std::chrono::milliseconds;
  milliseconds pause(0);   // after a failure: how long the server is given before the next attempt
  int64_t pauseUntil = 0;  // no attempt before then, however often something new is queued
  while (!stop.stop_requested()) {
    int failed = 0, succeeded = 0, inFlight = 0;
    {
      platform::MutexLock lock(mu_);
      failed = std::exchange(failed_, 0);
      succeeded = std::exchange(succeeded_, 0);
      inFlight = inFlight_;
      woken_ = false;
      dueAt_ = kNotDue;  // the look below sees whatever was queued to be due later
    }
    if (failed != 0) {
      if (draining) break;
      pause = std::clamp<milliseconds>(pause * 2, milliseconds(500), std::chrono::minutes(1));
      pauseUntil = nowMs() + pause.count();
    } else if (succeeded != 0) {
      pause = milliseconds(0);
    }
    int64_t wakeAt = kNotDue;
    bool handed = false;
    if (nowMs() >= pauseUntil && inFlight < senders_) {
      std::vector<Op> ops = outbox_.next(static_cast<size_t>(senders_ - inFlight), wakeAt);
      platform::MutexLock lock(mu_);
      for (Op& op : ops) {
        handedOut_.push_back(std::move(op));
        ++inFlight_;
        handed_.notifyOne();
        handed = true;
      }
    }
    platform::MutexLock lock(mu_);
    if (draining && !handed && inFlight_ == 0 && failed_ == 0 && succeeded_ == 0) break;
    // Until something is queued to go now, an entry is due, a send ends, or the pause is over. Entries
    // queued to be due later only move the time to look again: a program closing files one after another
    // costs no look at the queue each.
    while (!woken_ && failed_ == 0 && succeeded_ == 0 && !stop.stop_requested()) {
      const int64_t now = nowMs();
      const int64_t until = now < pauseUntil ? pauseUntil : std::min(wakeAt, dueAt_);
      if (until <= now) break;
      cv_.waitFor(mu_, milliseconds(std::min<int64_t>(until - now, 60'000)));
    }
  }
  // Whatever is in flight settles before the caller goes on.
  platform::MutexLock lock(mu_);
  while (inFlight_ != 0) cv_.wait(mu_);
}

int64_t Uploader::drain(std::stop_token stop) {
  outbox_.recover();
  startSenders();
  dispatch(stop, true);
  stopSenders();
  return outbox_.pending();
}

bool Uploader::send(const Op& op) {
  try {
    if (isDeletion(op)) {
      sendDeletion(op);
    } else {
      sendItem(op);
    }
    return true;
  } catch (const platform::Error& e) {
    if (transient(e)) {
      log_("will try again: " + op.kind + ": " + e.what());
      outbox_.retry(op);
      return false;
    }
    if (is(e, platform::fp::kNoSuchItem)) {
      notify_(outbox_.gone(op));
      return true;
    }
    log_("the server refused " + op.kind + ": " + e.what());
    outbox_.drop(op);
    return true;
  }
}

void Uploader::sendDeletion(const Op& op) {
  log_("deleting " + op.identifier);
  try {
    platform_.remove(op.identifier, {op.baseVersion, {}}, false);
  } catch (const platform::Error& e) {
    if (is(e, platform::fp::kNoSuchItem)) {
      outbox_.done(op, nullptr, 0, {});
      return;
    }
    if (is(e, platform::fp::kDirectoryNotEmpty) && outbox_.retryAfterMoves(op)) {
      log_("not deleted yet, a move out of it comes first: " + op.identifier);
      return;
    }
    if (is(e, platform::fp::kDeletionRejected) || is(e, platform::fp::kDirectoryNotEmpty)) {
      // It changed on the server since it was seen: the server's version comes back into its folder.
      log_("not deleted, it changed on the server: " + op.identifier);
      outbox_.drop(op);
      journal_.unlist(op.ino);
      Effects effects;
      effects.changed.push_back(op.ino);
      notify_(effects);
      return;
    }
    throw;
  }
  outbox_.done(op, nullptr, 0, {});
}

void Uploader::sendItem(const Op& op) {
  auto node = journal_.node(op.ino);
  auto parent = node ? journal_.node(node->parent) : std::nullopt;
  if (!node || !parent || parent->local) {
    // Gone meanwhile, or its folder is not on the server yet (its creation comes first and failed).
    outbox_.drop(op);
    return;
  }
  auto properties = templateOf(*node, *parent);
  std::optional<std::string> contents;
  if (!node->folder && (op.kind == "contents" || node->local)) contents = replica_.contents(node->ino);
  CopySync synced(contents);
  client::PlatformClient::Written written;
  if (node->local) {
    log_("creating " + node->name);
    platform::ItemFields fields = platform::field::kFilename | platform::field::kParentItemIdentifier;
    if (contents) fields |= platform::field::kContents | platform::field::kContentModificationDate;
    written = platform_.create(std::make_shared<client::TemplateItem>(properties), fields, contents);
  } else if (op.kind == "contents") {
    if (node->dirty == 0) {
      outbox_.drop(op);
      return;
    }
    // The engine replaces whatever the server holds: ask first whether that is still what the copy came from.
    auto current = platform_.item(node->identifier);
    if (current->itemVersion().contentVersion != node->version.contentVersion) {
      notify_(outbox_.conflict(op, *current, node->identifier));
      log_("conflict: " + node->name + " changed on the server and here; both kept");
      return;
    }
    if (outbox_.inDoubt(op)) {
      notify_(outbox_.conflict(op, *current, node->identifier));
      log_("the machine went down before " + node->name + " was sent: the local copy is kept beside it");
      return;
    }
    log_("sending " + node->name);
    written =
        platform_.modify(std::make_shared<client::TemplateItem>(properties), node->version,
                         platform::field::kContents | platform::field::kContentModificationDate, contents);
  } else {
    log_("moving " + node->name);
    written =
        platform_.modify(std::make_shared<client::TemplateItem>(properties), node->version,
                         platform::field::kFilename | platform::field::kParentItemIdentifier, std::nullopt);
  }
  synced.wait();
  notify_(outbox_.done(op, written.item, node->dirty, node->identifier));
  log_("sent " + node->name);
}

}  // namespace davfp::mount
