#include "support/curl_request.h"

#include <curl/curl.h>
#include <strings.h>

#include <memory>
#include <stdexcept>

namespace davfp::testing {

namespace {

struct CurlDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct SlistDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

template <class T>
void setopt(CURL* handle, CURLoption option, T value) {
  CURLcode code = curl_easy_setopt(handle, option, value);
  if (code != CURLE_OK)
    throw std::runtime_error(std::string("curl_easy_setopt: ") + curl_easy_strerror(code));
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n')) {
    s.remove_suffix(1);
  }
  return s;
}

extern "C" size_t onBody(char* data, size_t size, size_t count, void* user) {
  static_cast<HttpResponse*>(user)->body.append(data, size * count);
  return size * count;
}

extern "C" size_t onHeader(char* data, size_t size, size_t count, void* user) {
  auto* response = static_cast<HttpResponse*>(user);
  std::string_view line(data, size * count);
  if (line.starts_with("HTTP/")) {
    response->headers.clear();  // an interim response (100 Continue, a redirect) came before
  } else if (auto colon = line.find(':'); colon != std::string_view::npos) {
    response->headers.emplace_back(trim(line.substr(0, colon)), trim(line.substr(colon + 1)));
  }
  return size * count;
}

}  // namespace

std::optional<std::string> HttpResponse::header(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (key.size() == name.size() && ::strncasecmp(key.data(), name.data(), key.size()) == 0) return value;
  }
  return std::nullopt;
}

HttpResponse curlRequest(const HttpRequest& request) {
  std::unique_ptr<CURL, CurlDeleter> handle(curl_easy_init());
  if (!handle) throw std::runtime_error("curl_easy_init failed");
  CURL* h = handle.get();
  HttpResponse response;
  std::unique_ptr<curl_slist, SlistDeleter> headers;
  // "Expect:" sends a body at once instead of waiting for "100 Continue".
  std::vector<std::string> lines = request.headers;
  lines.emplace_back("Expect:");
  for (const auto& line : lines) {
    curl_slist* appended = curl_slist_append(headers.get(), line.c_str());
    if (appended == nullptr) throw std::runtime_error("curl_slist_append failed");
    headers.release();
    headers.reset(appended);
  }
  setopt(h, CURLOPT_URL, request.url.c_str());
  setopt(h, CURLOPT_PROXY, "");  // a proxy from the environment must never see loopback test traffic
  setopt(h, CURLOPT_NOSIGNAL, 1L);
  setopt(h, CURLOPT_TIMEOUT_MS, request.timeoutMs);
  setopt(h, CURLOPT_CUSTOMREQUEST, request.method.c_str());
  if (request.method == "HEAD") setopt(h, CURLOPT_NOBODY, 1L);
  if (request.body) {
    setopt(h, CURLOPT_POSTFIELDS, request.body->data());
    setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body->size()));
  }
  setopt(h, CURLOPT_HTTPHEADER, headers.get());
  setopt(h, CURLOPT_WRITEFUNCTION, onBody);
  setopt(h, CURLOPT_WRITEDATA, &response);
  setopt(h, CURLOPT_HEADERFUNCTION, onHeader);
  setopt(h, CURLOPT_HEADERDATA, &response);
  CURLcode code = curl_easy_perform(h);
  if (code != CURLE_OK) {
    throw std::runtime_error(request.method + " " + request.url + ": " + curl_easy_strerror(code));
  }
  if (curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &response.status) != CURLE_OK) {
    throw std::runtime_error("curl_easy_getinfo failed");
  }
  return response;
}

}  // namespace davfp::testing
