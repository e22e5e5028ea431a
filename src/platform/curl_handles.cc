#include "platform/curl_handles.h"

#include <mutex>

namespace davfp::platform::curl {

void globalInit() {
  static std::once_flag once;
  std::call_once(once, [] {
    CURLcode rc = curl_global_init(CURL_GLOBAL_DEFAULT);
    if (rc != CURLE_OK)
      throw transportError(rc, std::string("initialising libcurl: ") + curl_easy_strerror(rc));
  });
}

void append(SlistPtr& list, const std::string& line) {
  curl_slist* grown = curl_slist_append(list.get(), line.c_str());
  if (grown == nullptr) throw transportError(CURLE_OUT_OF_MEMORY, "building the request's header list");
  (void)list.release();
  list.reset(grown);
}

}  // namespace davfp::platform::curl
