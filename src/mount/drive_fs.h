// DriveFs: the file system operations of the mount, on the journal, the replica and the platform's client of
// the extension, in the kernel's terms (inodes, names, errno) but free of FUSE's types. Folders are listed
// from the server the first time they are looked into and from the journal afterwards (the change passes
// keep them current); files are dataless until opened: the first open fetches the contents into the replica.
// What the journal learns meanwhile that the kernel may have cached goes to the notifier. Failures are thrown
// as FsError. Thread-safe: the kernel's requests come on many threads.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "client/platform_client.h"
#include "mount/journal.h"
#include "mount/node.h"
#include "mount/replica.h"
#include "platform/mutex.h"

namespace davfp::mount {

class DriveFs {
 public:
  using Notify = std::function<void(const Journal::Effects&)>;
  // log: one line for each transfer and failure, for --verbose.
  DriveFs(client::PlatformClient& platform, Journal& journal, const Replica& replica, Notify notify,
          std::function<void(const std::string&)> log);

  Node lookup(Ino parent, const std::string& name);
  Node attributes(Ino ino);
  // The folder's children by name, listed from the server when the journal has not listed it yet.
  std::vector<Node> children(Ino folder);
  // A descriptor for reading the file's replica copy (the caller closes it), fetched first when dataless.
  int openForReading(Ino ino);
  // One change pass of the working set from the journal's anchor, applied to the journal.
  void changePass();

 private:
  struct Transfer;
  // Runs work once for key while other callers for the same key wait for it and share its outcome.
  template <class Work>
  void once(std::map<Ino, std::shared_ptr<Transfer>>& running, Ino key, Work work);
  Node folder(Ino ino);
  void list(const Node& folder);
  void materialise(const Node& file);
  void apply(const Journal::Effects& effects);

  client::PlatformClient& platform_;
  Journal& journal_;
  const Replica& replica_;
  const Notify notify_;
  const std::function<void(const std::string&)> log_;
  platform::Mutex mu_;
  std::map<Ino, std::shared_ptr<Transfer>> fetching_ GUARDED_BY(mu_);
  std::map<Ino, std::shared_ptr<Transfer>> listing_ GUARDED_BY(mu_);
};

}  // namespace davfp::mount
