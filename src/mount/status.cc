#include "mount/status.h"

#include <cstdlib>

#include "mount/journal_db.h"
#include "mount/replica.h"

namespace davfp::mount {

MountStatus readMountStatus(const std::string& domain) {
  Replica replica = Replica::forDomain(domain);
  JournalDb db(replica.journalPath());
  MountStatus status;
  status.replicaFolder = replica.folder();
  status.replicaBytes = replica.size();
  platform::MutexLock lock(db.mu);
  status.items = db.count();
  status.pinnedBytes = db.pinnedBytes();
  status.pending = static_cast<int64_t>(db.ops().size());
  std::string conflicts = db.meta("conflicts");
  for (size_t at = 0, end; (end = conflicts.find('\n', at)) != std::string::npos; at = end + 1) {
    status.conflicts.push_back(conflicts.substr(at, end - at));
  }
  std::string last = db.meta("lastPass");
  status.lastPass = static_cast<std::time_t>(std::strtoll(last.c_str(), nullptr, 10));
  status.lastPassError = db.meta("lastPassError");
  status.passes = std::strtoll(db.meta("passes").c_str(), nullptr, 10);
  status.cacheMax = std::strtoll(db.meta("cacheMax").c_str(), nullptr, 10);
  status.evictions = std::strtoll(db.meta("evictions").c_str(), nullptr, 10);
  status.overLimit = db.meta("overLimit") == "1";
  return status;
}

}  // namespace davfp::mount
