// DavTimings: the WebDAV client's fixed timings. Tests shorten them; the product uses the defaults. A value.
#pragma once

#include <chrono>

namespace davfp {

struct DavTimings {
  std::chrono::milliseconds sessionTimeout{120'000};
  std::chrono::milliseconds requestTimeout{60'000};
  std::chrono::milliseconds probeTimeout{5'000};
  std::chrono::milliseconds pollInterval{500};
  int polls = 30;
  // The wait for the host application after starting it: its polls, probes included, end by then.
  std::chrono::milliseconds launchWait{15'000};
};

}  // namespace davfp
