// Owners of libcurl's C handles, the one-time global initialisation, and checked option setting.
// Used only inside the platform layer. The handles themselves are not thread-safe; see each user.
#pragma once

#include <curl/curl.h>

#include <memory>
#include <string>

#include "platform/curl_errors.h"

namespace davfp::platform::curl {

struct EasyDeleter {
  void operator()(CURL* h) const { curl_easy_cleanup(h); }
};
struct MultiDeleter {
  void operator()(CURLM* h) const { curl_multi_cleanup(h); }
};
struct ShareDeleter {
  void operator()(CURLSH* h) const { curl_share_cleanup(h); }
};
struct SlistDeleter {
  void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};
struct UrlDeleter {
  void operator()(CURLU* h) const { curl_url_cleanup(h); }
};
struct FreeDeleter {
  void operator()(char* p) const { curl_free(p); }
};

using EasyPtr = std::unique_ptr<CURL, EasyDeleter>;
using MultiPtr = std::unique_ptr<CURLM, MultiDeleter>;
using SharePtr = std::unique_ptr<CURLSH, ShareDeleter>;
using SlistPtr = std::unique_ptr<curl_slist, SlistDeleter>;
using UrlPtr = std::unique_ptr<CURLU, UrlDeleter>;
using StringPtr = std::unique_ptr<char, FreeDeleter>;

// curl_global_init, exactly once per process, before the first handle. Thread-safe.
void globalInit();

// curl_easy_setopt that throws the mapped transport error when libcurl refuses the option.
template <class T>
void setopt(CURL* easy, CURLoption option, T value) {
  CURLcode rc = curl_easy_setopt(easy, option, value);
  if (rc != CURLE_OK)
    throw transportError(rc, std::string("setting a transfer option: ") + curl_easy_strerror(rc));
}

// Appends one line to a header list; throws when libcurl cannot allocate it.
void append(SlistPtr& list, const std::string& line);

}  // namespace davfp::platform::curl
