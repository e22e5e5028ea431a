// Uploader: sends the Outbox's entries to the server on threads of its own, through the platform's client
// of the extension: creations (createItem with the replica's copy), contents and moves (modifyItem),
// deletions (deleteItem with the version the item was deleted at). A dispatcher hands the entries that may go
// (see Outbox::next) to senders, as many at once as the client's session keeps connections. Before it
// replaces a file's contents it asks for the server's version: when that is not the one the local copy was
// based on, both are kept (Outbox::conflict). While the server cannot be reached, entries stay queued and are
// tried again with a growing pause (up to a minute). What the server refuses for good is logged and dropped;
// the item keeps its local state.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "client/platform_client.h"
#include "mount/journal.h"
#include "mount/outbox.h"
#include "mount/replica.h"
#include "platform/mutex.h"

namespace davfp::mount {

class Uploader {
 public:
  using Notify = std::function<void(const Effects&)>;
  using Log = std::function<void(const std::string&)>;

  Uploader(client::PlatformClient& platform, Journal& journal, Outbox& outbox, const Replica& replica,
           Notify notify, Log log, int senders = kSenders);
  ~Uploader();

  // Something was queued: look again now, or once afterMs have passed (when it is due).
  void wake(int64_t afterMs = 0);
  // Starts sending; stop() (or the destructor) ends it after the entries in flight.
  void start();
  void stop();
  // After stop(): sends what is queued, due or not, until nothing is left, the server cannot be reached, or
  // stop is requested. Returns how many entries are left.
  int64_t drain(std::stop_token stop);

  static constexpr int kSenders = 16;  // the connections a session of the client keeps

 private:
  // Hands entries to the senders until stop; draining, until nothing is left or a send failed for now.
  void dispatch(std::stop_token stop, bool draining);
  void startSenders();
  void stopSenders();
  void sender(std::stop_token stop);
  // Sends one entry; false when it is to be tried again later.
  bool send(const Op& op);
  void sendDeletion(const Op& op);
  void sendItem(const Op& op);

  client::PlatformClient& platform_;
  Journal& journal_;
  Outbox& outbox_;
  const Replica& replica_;
  const Notify notify_;
  const Log log_;
  const int senders_;
  platform::Mutex mu_;
  platform::CondVar cv_;      // the dispatcher's: woken, or a send ended
  platform::CondVar handed_;  // the senders': an entry was handed out, or they are to end
  bool woken_ GUARDED_BY(mu_) = false;
  int64_t dueAt_ GUARDED_BY(mu_) = kNotDue;  // when something queued since the last look is due
  std::deque<Op> handedOut_ GUARDED_BY(mu_);
  int inFlight_ GUARDED_BY(mu_) = 0;   // handed out and not yet settled
  int failed_ GUARDED_BY(mu_) = 0;     // sends that failed for now since the dispatcher last looked
  int succeeded_ GUARDED_BY(mu_) = 0;  // sends that went through since then
  bool sendersEnd_ GUARDED_BY(mu_) = false;
  std::vector<std::jthread> senderThreads_;
  std::jthread dispatcher_;
};

}  // namespace davfp::mount
