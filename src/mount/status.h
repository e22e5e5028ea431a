// What davfp status shows of a drive's mount, read from its journal and replica by another process while the
// mount runs (or after it ended): changes not sent yet, the latest conflicts, the latest change pass, the
// replica's size and how much of the drive is pinned.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace davfp::mount {

struct MountStatus {
  std::string replicaFolder;
  int64_t replicaBytes = 0;
  int64_t pinnedBytes = 0;             // the size of the files pinned to stay in the replica
  int64_t cacheMax = 0;                // the most the replica may take; 0: never mounted with a limit
  int64_t evictions = 0;               // copies evicted for space since the mount started
  bool overLimit = false;              // what cannot be evicted alone takes more than the limit
  int64_t items = 0;                   // items the journal knows
  int64_t pending = 0;                 // local changes not sent yet
  std::vector<std::string> conflicts;  // names given to local versions kept beside the server's, newest last
  int64_t passes = 0;                  // change passes made, for telling when the next one is done
  std::time_t lastPass = 0;            // 0: none yet
  std::string lastPassError;           // empty when the latest pass went well
};

// The status of domain's mount; a drive never mounted shows an empty journal. Throws platform::Error when the
// replica or its journal cannot be read.
MountStatus readMountStatus(const std::string& domain);

}  // namespace davfp::mount
