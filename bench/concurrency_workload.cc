// Workload: 200 fetches of small files and 200 item lookups, each batch started at once through the platform's
// requests on a new extension, against nginx on loopback. Every request must complete exactly once, and the
// session must keep to its connection limit. Baseline: the same HTTP requests (a depth-0 PROPFIND and a GET
// per fetch, a depth-0 PROPFIND per lookup) sent by one `curl --parallel` with that many connections at most.
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>

#include "child_process.h"
#include "client/platform_client.h"
#include "clients.h"
#include "drive.h"
#include "platform/url_session.h"
#include "summary.h"
#include "support/real_server.h"
#include "support/temp_dir.h"
#include "tree.h"
#include "workloads.h"

namespace davfp::bench {

namespace {

constexpr int kRequests = 200;

// A curl configuration sending every request of the batch (see curl's --config). A fetch delivers a file,
// so curl writes each GET into a file of its own in downloads, as the engine does in its temporary directory.
std::string curlConfig(const std::string& url, bool fetches, const std::string& bodyFile,
                       const std::string& downloads) {
  std::string out;
  for (int i = 0; i < kRequests; ++i) {
    if (i > 0) out += "next\n";
    std::string file = url + fileName(i);
    out += "url = \"" + file + "\"\nrequest = \"PROPFIND\"\nheader = \"Depth: 0\"\n"
           "header = \"Content-Type: text/xml\"\ndata-binary = \"@" + bodyFile + "\"\noutput = \"/dev/null\"\n";
    if (fetches) out += "next\nurl = \"" + file + "\"\noutput = \"" + downloads + "/" + fileName(i) + "\"\n";
  }
  return out;
}

struct Batch {
  double seconds = 0;
  long connections = 0;
  bool exactlyOnce = true;
};

// Starts every request, then waits for all of them; the delivered files are removed.
template <class Start, class Check>
Batch runBatch(BenchDrive& drive, const std::vector<std::string>& ids, Start start, Check check) {
  auto ext = drive.extension();
  client::PlatformClient platform(ext.ext);
  auto begin = Clock::now();
  std::vector<decltype(start(platform, ids.front()))> pending;
  for (const auto& id : ids) pending.push_back(start(platform, id));
  for (auto& p : pending) check(p.wait());
  Batch batch{.seconds = since(begin), .connections = ext.dav->connectionsOpened()};
  for (auto& p : pending) batch.exactlyOnce = batch.exactlyOnce && p.completions() == 1;
  return batch;
}

}  // namespace

int concurrencyWorkload(int runs) {
  testing::TempDir work;
  const std::string root = work.file("root");
  makeFolder(root + "/small", kRequests);
  auto server = testing::RealServer::start(testing::ServerKind::nginx, root);
  const std::string url = server->baseUrl() + "small/";
  BenchDrive drive(work.file("home"), url);
  const std::string bodyFile = work.file("propfind.xml");
  testing::writeFile(bodyFile, std::string(kPropfindBody));
  const long limit = platform::UrlSession::kMaxConnections;

  // The identifiers the platform knows from browsing the folder.
  std::vector<std::string> ids;
  {
    auto ext = drive.extension();
    std::map<std::string, std::string> byName;
    for (const auto& item : client::PlatformClient(ext.ext).enumerate(platform::kRootContainerItemIdentifier)) {
      byName[item->filename()] = item->itemIdentifier();
    }
    for (int i = 0; i < kRequests; ++i) ids.push_back(byName.at(fileName(i)));
  }
  const std::string downloads = drive.temporaryDirectory() + "/curl";
  std::map<bool, std::string> configs;
  for (bool fetches : {true, false}) {
    configs[fetches] = work.file(fetches ? "fetches.curl" : "lookups.curl");
    testing::writeFile(configs[fetches], curlConfig(url, fetches, bodyFile, downloads));
  }
  auto curlBatch = [&](bool fetches) {
    std::filesystem::create_directories(downloads);
    ChildRun run = runChild(ChildSpec{.argv = {"curl", "-s", "-f", "--parallel", "--parallel-max",
                                               std::to_string(limit), "-K", configs[fetches]}});
    if (run.exitStatus != 0) throw std::runtime_error("curl --parallel failed: " + run.errorOutput);
    std::filesystem::remove_all(downloads);
    return run.seconds;
  };
  note("concurrency: " + std::to_string(kRequests) + " files at " + url + ", connection limit " +
       std::to_string(limit));

  Samples fetchOurs, fetchCurl, lookupOurs, lookupCurl;
  long maxConnections = 0;
  bool exactlyOnce = true;
  for (int run = 0; run < runs; ++run) {
    fetchCurl.add(curlBatch(true));
    auto startFetch = [](client::PlatformClient& p, const std::string& id) {
      return p.startFetch(id, std::nullopt);
    };
    auto startLookup = [](client::PlatformClient& p, const std::string& id) { return p.startItem(id); };
    Batch fetches = runBatch(drive, ids, startFetch, [](const client::PlatformClient::Fetched& fetched) {
      const std::string& file = fetched.file;
      struct stat st {};
      if (::stat(file.c_str(), &st) != 0 || st.st_size < 100) throw std::runtime_error("a fetch delivered no file");
      std::filesystem::remove(file);
    });
    lookupCurl.add(curlBatch(false));
    Batch lookups = runBatch(drive, ids, startLookup, [](const platform::ItemRef& item) {
      if (!item) throw std::runtime_error("a lookup delivered no item");
    });
    fetchOurs.add(fetches.seconds);
    lookupOurs.add(lookups.seconds);
    maxConnections = std::max({maxConnections, fetches.connections, lookups.connections});
    exactlyOnce = exactlyOnce && fetches.exactlyOnce && lookups.exactlyOnce;
    note("  run " + std::to_string(run + 1) + ": fetches " + formatSeconds(fetches.seconds) + " (" +
         std::to_string(fetches.connections) + " connections), lookups " + formatSeconds(lookups.seconds) + " (" +
         std::to_string(lookups.connections) + " connections)");
  }

  emit(Row{.workload = "6. 200 concurrent fetches",
           .ours = formatSeconds(fetchOurs.median()),
           .baseline = "curl --parallel " + formatSeconds(fetchCurl.median()),
           .ratio = formatRatio(fetchOurs.median(), fetchCurl.median()),
           .target = "<= 1.5",
           .pass = fetchOurs.median() <= 1.5 * fetchCurl.median()});
  emit(Row{.workload = "6. 200 concurrent item lookups",
           .ours = formatSeconds(lookupOurs.median()),
           .baseline = "curl --parallel " + formatSeconds(lookupCurl.median()),
           .ratio = formatRatio(lookupOurs.median(), lookupCurl.median()),
           .target = "<= 1.5",
           .pass = lookupOurs.median() <= 1.5 * lookupCurl.median()});
  emit(Row{.workload = "6. connections opened per batch",
           .ours = std::to_string(maxConnections),
           .baseline = "-",
           .target = "<= " + std::to_string(limit) + " (the session's limit)",
           .pass = maxConnections <= limit});
  emit(Row{.workload = "6. every request completed exactly once",
           .ours = exactlyOnce ? "yes" : "no",
           .target = "yes",
           .pass = exactlyOnce});
  return 0;
}

}  // namespace davfp::bench
