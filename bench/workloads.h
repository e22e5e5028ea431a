// The workloads of `davfp-bench`, one function each. Each prints its summary rows on stdout (see summary.h)
// and its detail on stderr, and returns the process's exit status. runs is how many runs each median takes.
#pragma once

#include <string>
#include <vector>

namespace davfp::bench {

// PROPFIND parsing of a 100,000-response body against expat alone.
int parseWorkload(int runs);
// Listing a folder of 10,000 and of 100,000 files for the first time, whole process, against curl and rclone.
int listingWorkload(int runs);
// A change pass over 1,000 remembered folders, against sequential keep-alive PROPFINDs.
int changesWorkload(int runs);
// Fetching and writing back a 1 GiB file, against curl.
int transferWorkload(int runs);
// Starting the extension on a large state file and saving it, against a plain write.
int stateWorkload(int runs);
// 200 concurrent fetches and item lookups, against curl --parallel.
int concurrencyWorkload(int runs);

// Copying a tree of 10,000 small files off the drive (davfp get -r), against rclone copy.
int recursiveGetWorkload(int runs);

// Mounting the drive as a folder (davfp mount) against rclone mount and davfs2.
int mountWorkload(int runs);

// Child modes, started by the workloads above as separate processes (see children.cc).
int enumerateChild(const std::vector<std::string>& args);
int enumerateTreeChild(const std::vector<std::string>& args);
int fetchChild(const std::vector<std::string>& args);
int uploadChild(const std::vector<std::string>& args);

}  // namespace davfp::bench
