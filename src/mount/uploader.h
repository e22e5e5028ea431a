// Uploader: sends the Outbox's entries to the server, one at a time and in order, on a thread of its own,
// through the platform's client of the extension: creations (createItem with the replica's copy), contents
// and moves (modifyItem), deletions (deleteItem with the version the item was deleted at). Before it replaces
// a file's contents it asks for the server's version: when that is not the one the local copy was based on,
// both are kept (Outbox::conflict). While the server cannot be reached, entries stay queued and are tried
// again with a growing pause (up to a minute). What the server refuses for good is logged and dropped; the
// item keeps its local state.
#pragma once

#include <functional>
#include <string>
#include <thread>

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
           Notify notify, Log log);
  ~Uploader();

  // Something was queued or became due: look again now.
  void wake();
  // Starts sending; stop() (or the destructor) ends it after the entry in flight.
  void start();
  void stop();
  // After stop(): sends what is queued, due or not, on the calling thread, until nothing is left, the server
  // cannot be reached, or stop is requested. Returns how many entries are left.
  int64_t drain(std::stop_token stop);

 private:
  void run(std::stop_token stop);
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
  platform::Mutex mu_;
  platform::CondVar cv_;
  bool woken_ GUARDED_BY(mu_) = false;
  std::jthread thread_;
};

}  // namespace davfp::mount
