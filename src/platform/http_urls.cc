#include "platform/http_urls.h"

#include "platform/curl_handles.h"
#include "platform/http_head.h"

namespace davfp::platform {

namespace {

// A URL handle holding url; none when it does not parse as an absolute URL.
curl::UrlPtr parse(const std::string& url) {
  curl::UrlPtr handle(curl_url());
  if (!handle || curl_url_set(handle.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK) return nullptr;
  return handle;
}

std::optional<std::string> part(CURLU* handle, CURLUPart which, unsigned flags = 0) {
  char* raw = nullptr;
  if (curl_url_get(handle, which, &raw, flags) != CURLUE_OK || raw == nullptr) return std::nullopt;
  curl::StringPtr owned(raw);
  return std::string(owned.get());
}

std::string lowered(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

std::optional<std::string> origin(CURLU* handle) {
  auto scheme = part(handle, CURLUPART_SCHEME);
  auto host = part(handle, CURLUPART_HOST);
  auto port = part(handle, CURLUPART_PORT, CURLU_DEFAULT_PORT);
  if (!scheme || !host || !port) return std::nullopt;
  return lowered(*scheme) + "://" + lowered(*host) + ":" + *port;
}

bool isRedirect(long status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

}  // namespace

std::optional<std::string> originOf(const std::string& url) {
  curl::UrlPtr handle = parse(url);
  if (!handle) return std::nullopt;
  return origin(handle.get());
}

std::optional<std::string> userOf(const std::string& url) {
  // Userinfo ends with "@": a URL without one has no user, and most requests need no parse to know it.
  if (url.find('@') == std::string::npos) return std::nullopt;
  curl::UrlPtr handle = parse(url);
  if (!handle) return std::nullopt;
  auto user = part(handle.get(), CURLUPART_USER);
  if (!user) return std::nullopt;
  return *user + ":" + part(handle.get(), CURLUPART_PASSWORD).value_or("");
}

std::string withoutCredentials(std::string message, const std::string& url) {
  curl::UrlPtr handle = parse(url);
  if (!handle) return message;
  auto user = part(handle.get(), CURLUPART_USER);
  if (!user) return message;
  // A message that quotes the URL quotes its userinfo as written: "user:password@".
  std::string userinfo = *user;
  if (auto password = part(handle.get(), CURLUPART_PASSWORD)) userinfo += ":" + *password;
  userinfo += "@";
  for (auto at = message.find(userinfo); at != std::string::npos; at = message.find(userinfo, at)) {
    message.erase(at, userinfo.size());
  }
  return message;
}

std::string requestLine(std::string_view method, const std::string& url) {
  curl::UrlPtr handle = parse(url);
  auto path = handle ? part(handle.get(), CURLUPART_PATH) : std::nullopt;
  return std::string(method) + " " + path.value_or("(an invalid URL)");
}

std::optional<RedirectStep> redirectStep(std::string_view method, const std::string& from, long status,
                                         const std::optional<std::string>& location) {
  if (!isRedirect(status) || !location || location->empty()) return std::nullopt;
  curl::UrlPtr source = parse(from);
  if (!source) return std::nullopt;
  auto sourceOrigin = origin(source.get());
  auto sourceScheme = part(source.get(), CURLUPART_SCHEME);

  // Setting a reference on a handle that holds a URL resolves it against that URL. Like libcurl's own
  // following, spaces and non-ASCII bytes that servers put in Location are percent-encoded rather than
  // refused.
  curl::UrlPtr target(curl_url_dup(source.get()));
  if (!target || curl_url_set(target.get(), CURLUPART_URL, location->c_str(),
                              CURLU_URLENCODE | CURLU_ALLOW_SPACE) != CURLUE_OK) {
    return std::nullopt;
  }
  auto scheme = part(target.get(), CURLUPART_SCHEME);
  if (!scheme || !sourceScheme || !sourceOrigin) return std::nullopt;
  *scheme = lowered(*scheme);
  if (*scheme != "http" && *scheme != "https") return std::nullopt;
  if (lowered(*sourceScheme) == "https" && *scheme == "http") return std::nullopt;

  RedirectStep step;
  step.method = std::string(method);
  if (status == 303 && method != "HEAD") {
    step.method = "GET";
    step.keepBody = false;
  }
  step.crossOrigin = origin(target.get()) != sourceOrigin;
  if (step.crossOrigin) {
    if (step.method != "GET" && step.method != "HEAD" && step.method != "PROPFIND") return std::nullopt;
    curl_url_set(target.get(), CURLUPART_USER, nullptr, 0);
    curl_url_set(target.get(), CURLUPART_PASSWORD, nullptr, 0);
  } else if (!part(target.get(), CURLUPART_USER)) {
    // An absolute Location on the same origin names no user; the request keeps authenticating as before.
    if (auto user = part(source.get(), CURLUPART_USER)) {
      // Both parts come out of the source still percent-encoded and go in as they are.
      curl_url_set(target.get(), CURLUPART_USER, user->c_str(), 0);
      if (auto password = part(source.get(), CURLUPART_PASSWORD)) {
        curl_url_set(target.get(), CURLUPART_PASSWORD, password->c_str(), 0);
      }
    }
  }
  curl_url_set(target.get(), CURLUPART_FRAGMENT, nullptr, 0);
  auto url = part(target.get(), CURLUPART_URL);
  if (!url) return std::nullopt;
  step.url = std::move(*url);
  return step;
}

}  // namespace davfp::platform
