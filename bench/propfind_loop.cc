#include "propfind_loop.h"

#include <curl/curl.h>

#include <memory>
#include <stdexcept>

#include "clients.h"
#include "expat_alone.h"
#include "summary.h"

namespace davfp::bench {

namespace {

extern "C" {
size_t discard(char*, size_t size, size_t count, void*) { return size * count; }
size_t parseBody(char* data, size_t size, size_t count, void* parser) {
  XML_Parse(static_cast<XML_Parser>(parser), data, static_cast<int>(size * count), XML_FALSE);
  return size * count;
}
}

void check(CURLcode rc, const char* what) {
  if (rc != CURLE_OK) throw std::runtime_error(std::string(what) + ": " + curl_easy_strerror(rc));
}

}  // namespace

LoopResult propfindLoop(const std::vector<std::string>& urls, bool parse) {
  std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> easy(curl_easy_init(), curl_easy_cleanup);
  std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> headers(nullptr, curl_slist_free_all);
  if (!easy) throw std::runtime_error("curl_easy_init failed");
  for (const char* h : {"Depth: 1", "Content-Type: text/xml"}) {
    curl_slist* grown = curl_slist_append(headers.get(), h);
    if (grown == nullptr) throw std::runtime_error("curl_slist_append failed");
    (void)headers.release();
    headers.reset(grown);
  }
  CURL* h = easy.get();
  check(curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, "PROPFIND"), "CURLOPT_CUSTOMREQUEST");
  check(curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get()), "CURLOPT_HTTPHEADER");
  check(curl_easy_setopt(h, CURLOPT_POSTFIELDS, kPropfindBody.data()), "CURLOPT_POSTFIELDS");
  check(curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE, static_cast<long>(kPropfindBody.size())), "POSTFIELDSIZE");
  check(curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, discard), "CURLOPT_WRITEFUNCTION");
  check(curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L), "CURLOPT_NOSIGNAL");

  LoopResult result;
  double cpuStart = processCpuSeconds();
  auto start = Clock::now();
  for (const auto& url : urls) {
    check(curl_easy_setopt(h, CURLOPT_URL, url.c_str()), "CURLOPT_URL");
    ParserPtr parser;
    if (parse) {
      parser = emptyHandlerParser();
      check(curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, parseBody), "CURLOPT_WRITEFUNCTION");
      check(curl_easy_setopt(h, CURLOPT_WRITEDATA, parser.get()), "CURLOPT_WRITEDATA");
    }
    check(curl_easy_perform(h), url.c_str());
    if (parse) XML_Parse(parser.get(), nullptr, 0, XML_TRUE);
    long status = 0, connects = 0;
    check(curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status), "CURLINFO_RESPONSE_CODE");
    check(curl_easy_getinfo(h, CURLINFO_NUM_CONNECTS, &connects), "CURLINFO_NUM_CONNECTS");
    if (status != 207) throw std::runtime_error(url + " answered " + std::to_string(status));
    result.connections += connects;
  }
  result.seconds = since(start);
  result.cpuSeconds = processCpuSeconds() - cpuStart;
  return result;
}

}  // namespace davfp::bench
