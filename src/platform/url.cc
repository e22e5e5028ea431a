#include "platform/url.h"

#include "platform/text.h"

namespace davfp::platform {

namespace {

bool isAlpha(unsigned char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isDigit(unsigned char c) { return c >= '0' && c <= '9'; }
bool isHex(unsigned char c) { return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

int hexValue(unsigned char c) {
  if (isDigit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return c - 'A' + 10;
}

// The characters a URI reference may hold besides letters, digits and escapes: RFC 3986's unreserved,
// gen-delims and sub-delims.
bool isUriChar(unsigned char c) {
  return isAlpha(c) || isDigit(c) || std::string_view("-._~:/?#[]@!$&'()*+,;=").find(static_cast<char>(c)) !=
                                         std::string_view::npos;
}

// Where the authority of "scheme://authority..." ends, counted from its start; npos without "//".
size_t authorityEnd(std::string_view text, size_t start) {
  size_t end = text.find_first_of("/?#", start);
  return end == std::string_view::npos ? text.size() : end;
}

// Where the scheme's ":" is, or npos when text does not begin with a scheme (a letter, then letters, digits,
// "+", "-" or "."): a relative reference.
size_t schemeEnd(std::string_view text) {
  size_t colon = text.find_first_of(":/?#");
  if (colon == std::string_view::npos || text[colon] != ':' || colon == 0) return std::string_view::npos;
  if (!isAlpha(static_cast<unsigned char>(text[0]))) return std::string_view::npos;
  for (size_t i = 1; i < colon; ++i) {
    auto c = static_cast<unsigned char>(text[i]);
    if (!isAlpha(c) && !isDigit(c) && c != '+' && c != '-' && c != '.') return std::string_view::npos;
  }
  return colon;
}

// True when the host of the authority text (between "//" and the path) holds an escape. libcurl decodes it,
// and the decoded name, written out again, may read as another host ("254%2E0" is the name "254.0", which
// written plainly is the address 254.0.0.0). No host needs one (names beyond ASCII are written as they are
// or in punycode), so strict syntax refuses them; an address in brackets keeps its zone's "%25".
bool hostHasEscape(std::string_view authority) {
  size_t at = authority.rfind('@');
  std::string_view host = at == std::string_view::npos ? authority : authority.substr(at + 1);
  if (host.starts_with("[")) return false;
  return host.substr(0, host.find(':')).find('%') != std::string_view::npos;
}

// The checks of Syntax::strict that libcurl's parser does not make.
bool wellFormed(std::string_view text) {
  size_t scheme = schemeEnd(text);
  if (scheme == std::string_view::npos && text.find(':') < text.find_first_of("/?#")) return false;
  size_t authorityStart = scheme == std::string_view::npos ? 0 : scheme + 1;
  bool hasAuthority = text.substr(authorityStart).starts_with("//");
  size_t authorityStop = hasAuthority ? authorityEnd(text, authorityStart + 2) : authorityStart;
  if (hasAuthority && hostHasEscape(text.substr(authorityStart + 2, authorityStop - authorityStart - 2))) {
    return false;
  }
  bool fragment = false;
  for (size_t i = 0; i < text.size(); ++i) {
    auto c = static_cast<unsigned char>(text[i]);
    if (c == '%') {
      if (i + 2 >= text.size()) return false;
      if (!isHex(static_cast<unsigned char>(text[i + 1])) || !isHex(static_cast<unsigned char>(text[i + 2]))) {
        return false;
      }
      i += 2;
    } else if (!isUriChar(c)) {
      return false;
    } else if ((c == '[' || c == ']') && i >= authorityStop) {
      return false;
    } else if (c == '#') {
      if (fragment) return false;
      fragment = true;
    }
  }
  return true;
}

std::string asciiLower(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

// True when the absolute URL text has no path: nothing or "?" or "#" follows its authority.
bool writtenWithoutPath(std::string_view text) {
  size_t scheme = text.find("://");
  if (scheme == std::string_view::npos) return false;
  size_t end = authorityEnd(text, scheme + 3);
  return end == text.size() || text[end] != '/';
}

}  // namespace

std::optional<Url> Url::parse(std::string_view text, Syntax syntax) {
  size_t scheme = schemeEnd(text);
  // An absolute URL with a host: "scheme://" and something before the path.
  if (scheme == std::string_view::npos || text.substr(scheme + 1, 2) != "//") return std::nullopt;
  if (authorityEnd(text, scheme + 3) == scheme + 3) return std::nullopt;
  if (syntax == Syntax::strict && !wellFormed(text)) return std::nullopt;
  curl::UrlPtr handle(curl_url());
  std::string owned(text);  // libcurl reads up to a NUL: an embedded one must not hide the rest
  if (!handle || owned.find('\0') != std::string::npos ||
      curl_url_set(handle.get(), CURLUPART_URL, owned.c_str(), CURLU_PATH_AS_IS | CURLU_NON_SUPPORT_SCHEME) !=
          CURLUE_OK) {
    return std::nullopt;
  }
  return Url(std::move(handle), writtenWithoutPath(text));
}

Url::Url(const Url& other) : handle_(curl_url_dup(other.handle_.get())), emptyPath_(other.emptyPath_) {
  if (!handle_) throw std::bad_alloc();
}

Url& Url::operator=(const Url& other) {
  if (this != &other) *this = Url(other);
  return *this;
}

std::optional<Url> Url::resolve(std::string_view reference, Syntax syntax) const {
  unsigned flags = CURLU_NON_SUPPORT_SCHEME;
  if (syntax == Syntax::strict && !wellFormed(reference)) return std::nullopt;
  if (syntax == Syntax::asSent) flags |= CURLU_URLENCODE | CURLU_ALLOW_SPACE;
  std::string owned(reference);
  if (owned.find('\0') != std::string::npos) return std::nullopt;
  // Setting a reference on a handle that holds a URL resolves it against that URL.
  curl::UrlPtr target(curl_url_dup(handle_.get()));
  if (!target || curl_url_set(target.get(), CURLUPART_URL, owned.c_str(), flags) != CURLUE_OK) {
    return std::nullopt;
  }
  Url resolved(std::move(target), false);
  if (resolved.host().empty()) return std::nullopt;
  if (schemeEnd(reference) != std::string_view::npos) resolved.emptyPath_ = writtenWithoutPath(reference);
  return resolved;
}

std::optional<std::string> Url::part(CURLUPart which, unsigned flags) const {
  char* raw = nullptr;
  if (curl_url_get(handle_.get(), which, &raw, flags) != CURLUE_OK || raw == nullptr) return std::nullopt;
  curl::StringPtr owned(raw);
  return std::string(owned.get());
}

std::string Url::scheme() const { return asciiLower(part(CURLUPART_SCHEME).value_or("")); }
std::string Url::host() const { return part(CURLUPART_HOST).value_or(""); }
std::string Url::path() const { return emptyPath_ ? std::string() : part(CURLUPART_PATH).value_or(""); }
std::optional<std::string> Url::user() const { return part(CURLUPART_USER); }
std::optional<std::string> Url::password() const { return part(CURLUPART_PASSWORD); }
std::optional<std::string> Url::query() const { return part(CURLUPART_QUERY); }
std::optional<std::string> Url::fragment() const { return part(CURLUPART_FRAGMENT); }

std::string Url::origin() const {
  std::string out = scheme() + "://" + asciiLower(host());
  if (auto port = part(CURLUPART_PORT, CURLU_DEFAULT_PORT)) {
    // Appended in two steps: GCC 12 at -O3 takes ":" + a temporary for an overlapping copy (a false
    // -Wrestrict warning), which stops the optimised build.
    out += ':';
    out += *port;
  }
  return out;
}

std::string Url::decodedPath() const {
  std::string encoded = path();
  auto decoded = percentDecode(encoded);
  return decoded ? *decoded : encoded;
}

std::string Url::absoluteString() const { return written(true); }

std::string Url::withoutCredentials() const { return written(false); }

std::string Url::written(bool withCredentials) const {
  std::string out = scheme() + "://";
  if (auto name = user(); name && withCredentials) {
    out += *name;
    if (auto secret = password()) {
      out += ':';
      out += *secret;
    }
    out += '@';
  }
  out += host();
  if (auto port = part(CURLUPART_PORT)) {
    out += ':';
    out += *port;
  }
  out += path();
  if (auto q = query()) {
    out += '?';
    out += *q;
  }
  if (auto f = fragment()) {
    out += '#';
    out += *f;
  }
  return out;
}

void Url::setCredentials(const std::optional<std::string>& user, const std::optional<std::string>& password) {
  curl_url_set(handle_.get(), CURLUPART_USER, user ? user->c_str() : nullptr, 0);
  curl_url_set(handle_.get(), CURLUPART_PASSWORD, password ? password->c_str() : nullptr, 0);
}

void Url::clearFragment() { curl_url_set(handle_.get(), CURLUPART_FRAGMENT, nullptr, 0); }

std::optional<std::string> pathOfReference(std::string_view reference) {
  if (schemeEnd(reference) != std::string_view::npos) {
    auto url = Url::parse(reference);
    if (!url) return std::nullopt;
    return url->path();
  }
  if (!wellFormed(reference)) return std::nullopt;
  if (reference.starts_with("//")) reference.remove_prefix(authorityEnd(reference, 2));
  return std::string(reference.substr(0, reference.find_first_of("?#")));
}

std::string percentEncode(std::string_view s, bool (*allowed)(unsigned char)) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(s.size());
  for (unsigned char c : s) {
    if (allowed(c)) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0x0F];
    }
  }
  return out;
}

std::optional<std::string> percentDecode(std::string_view s, MalformedEscape malformed) {
  if (s.find('%') == std::string_view::npos) {
    if (!isValidUtf8(s)) return std::nullopt;
    return std::string(s);
  }
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '%') {
      out += s[i];
      continue;
    }
    auto hi = i + 2 < s.size() ? static_cast<unsigned char>(s[i + 1]) : 0;
    auto lo = i + 2 < s.size() ? static_cast<unsigned char>(s[i + 2]) : 0;
    if (isHex(hi) && isHex(lo)) {
      out += static_cast<char>(hexValue(hi) * 16 + hexValue(lo));
      i += 2;
    } else if (malformed == MalformedEscape::keep) {
      out += '%';
    } else {
      return std::nullopt;
    }
  }
  if (!isValidUtf8(out)) return std::nullopt;
  return out;
}

}  // namespace davfp::platform
