#include "platform/http_urls.h"

#include "platform/url.h"

namespace davfp::platform {

namespace {

std::optional<Url> parse(const std::string& url) { return Url::parse(url, Url::Syntax::asSent); }

bool isRedirect(long status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

}  // namespace

std::optional<std::string> originOf(const std::string& url) {
  auto parsed = parse(url);
  if (!parsed) return std::nullopt;
  return parsed->origin();
}

std::optional<std::string> userOf(const std::string& url) {
  // Userinfo ends with "@": a URL without one has no user, and most requests need no parse to know it.
  if (url.find('@') == std::string::npos) return std::nullopt;
  auto parsed = parse(url);
  auto user = parsed ? parsed->user() : std::nullopt;
  if (!user) return std::nullopt;
  return *user + ":" + parsed->password().value_or("");
}

std::string withoutCredentials(std::string message, const std::string& url) {
  auto parsed = parse(url);
  auto user = parsed ? parsed->user() : std::nullopt;
  if (!user) return message;
  // A message that quotes the URL quotes its userinfo as written: "user:password@".
  std::string userinfo = *user;
  if (auto password = parsed->password()) userinfo += ":" + *password;
  userinfo += "@";
  for (auto at = message.find(userinfo); at != std::string::npos; at = message.find(userinfo, at)) {
    message.erase(at, userinfo.size());
  }
  return message;
}

std::string requestLine(std::string_view method, const std::string& url) {
  auto parsed = parse(url);
  return std::string(method) + " " + (parsed ? parsed->path() : "(an invalid URL)");
}

std::optional<RedirectStep> redirectStep(std::string_view method, const std::string& from, long status,
                                         const std::optional<std::string>& location) {
  if (!isRedirect(status) || !location || location->empty()) return std::nullopt;
  auto source = parse(from);
  if (!source) return std::nullopt;
  // Like libcurl's own following, spaces and non-ASCII bytes that servers put in Location are
  // percent-encoded rather than refused.
  auto target = source->resolve(*location, Url::Syntax::asSent);
  if (!target) return std::nullopt;
  const std::string scheme = target->scheme();
  if (scheme != "http" && scheme != "https") return std::nullopt;
  if (source->scheme() == "https" && scheme == "http") return std::nullopt;

  RedirectStep step;
  step.method = std::string(method);
  if (status == 303 && method != "HEAD") {
    step.method = "GET";
    step.keepBody = false;
  }
  step.crossOrigin = target->origin() != source->origin();
  if (step.crossOrigin) {
    if (step.method != "GET" && step.method != "HEAD" && step.method != "PROPFIND") return std::nullopt;
    target->setCredentials(std::nullopt, std::nullopt);
  } else if (!target->user()) {
    // An absolute Location on the same origin names no user; the request keeps authenticating as before.
    // Both parts come out of the source still percent-encoded and go in as they are.
    if (auto user = source->user()) target->setCredentials(user, source->password());
  }
  target->clearFragment();
  step.url = target->absoluteString();
  return step;
}

}  // namespace davfp::platform
