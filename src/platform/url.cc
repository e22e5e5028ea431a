#include "platform/url.h"

#include "platform/text.h"

namespace davfp::platform {

namespace {

bool isAlpha(unsigned char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isDigit(unsigned char c) { return c >= '0' && c <= '9'; }
bool isHex(unsigned char c) { return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
bool isUnreserved(unsigned char c) {
  return isAlpha(c) || isDigit(c) || c == '-' || c == '.' || c == '_' || c == '~';
}
bool isSubDelim(unsigned char c) {
  switch (c) {
    case '!': case '$': case '&': case '\'': case '(': case ')': case '*': case '+': case ',': case ';': case '=':
      return true;
    default:
      return false;
  }
}
bool isPchar(unsigned char c) { return isUnreserved(c) || isSubDelim(c) || c == ':' || c == '@'; }
bool isPathChar(unsigned char c) { return isPchar(c) || c == '/'; }
bool isQueryChar(unsigned char c) { return isPchar(c) || c == '/' || c == '?'; }
bool isUserinfoChar(unsigned char c) { return isUnreserved(c) || isSubDelim(c) || c == ':'; }
bool isRegNameChar(unsigned char c) { return isUnreserved(c) || isSubDelim(c); }
bool isSchemeChar(unsigned char c) { return isAlpha(c) || isDigit(c) || c == '+' || c == '-' || c == '.'; }

int hexValue(unsigned char c) {
  if (isDigit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return c - 'A' + 10;
}

// True when every byte of s is allowed or part of a well-formed %XX escape.
bool validComponent(std::string_view s, bool (*allowed)(unsigned char)) {
  for (size_t i = 0; i < s.size(); ++i) {
    auto c = static_cast<unsigned char>(s[i]);
    if (c == '%') {
      if (i + 2 >= s.size()) return false;
      if (!isHex(static_cast<unsigned char>(s[i + 1])) || !isHex(static_cast<unsigned char>(s[i + 2]))) {
        return false;
      }
      i += 2;
    } else if (!allowed(c)) {
      return false;
    }
  }
  return true;
}

std::string asciiLower(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

// dec-octet "." dec-octet "." dec-octet "." dec-octet, without leading zeros.
bool validIpv4(std::string_view s) {
  int parts = 0;
  size_t i = 0;
  while (true) {
    size_t start = i;
    while (i < s.size() && isDigit(static_cast<unsigned char>(s[i]))) ++i;
    size_t len = i - start;
    if (len == 0 || len > 3 || (len > 1 && s[start] == '0')) return false;
    int value = 0;
    for (size_t k = start; k < i; ++k) value = value * 10 + (s[k] - '0');
    if (value > 255) return false;
    ++parts;
    if (i == s.size()) break;
    if (s[i] != '.' || parts == 4) return false;
    ++i;
  }
  return parts == 4;
}

// Counts the 16-bit groups of one side of an IPv6 address ("1:2:3"); an IPv4 tail counts as two groups.
// -1 when the text is not such a list. An empty side has no groups.
int ipv6Groups(std::string_view s, bool allowIpv4Tail) {
  if (s.empty()) return 0;
  int groups = 0;
  size_t i = 0;
  while (true) {
    size_t end = s.find(':', i);
    std::string_view group = s.substr(i, end == std::string_view::npos ? std::string_view::npos : end - i);
    if (end == std::string_view::npos && allowIpv4Tail && group.find('.') != std::string_view::npos) {
      return validIpv4(group) ? groups + 2 : -1;
    }
    if (group.empty() || group.size() > 4) return -1;
    for (unsigned char c : group) {
      if (!isHex(c)) return -1;
    }
    ++groups;
    if (end == std::string_view::npos) return groups;
    i = end + 1;
  }
}

bool validIpv6(std::string_view s) {
  size_t gap = s.find("::");
  if (gap == std::string_view::npos) return ipv6Groups(s, true) == 8;
  if (s.find("::", gap + 1) != std::string_view::npos) return false;
  int left = ipv6Groups(s.substr(0, gap), false);
  int right = ipv6Groups(s.substr(gap + 2), true);
  return left >= 0 && right >= 0 && left + right <= 7;
}

// "v" 1*HEXDIG "." 1*( unreserved / sub-delims / ":" )
bool validIpvFuture(std::string_view s) {
  if (s.size() < 4 || (s[0] != 'v' && s[0] != 'V')) return false;
  size_t dot = s.find('.');
  if (dot == std::string_view::npos || dot < 2 || dot + 1 == s.size()) return false;
  for (size_t i = 1; i < dot; ++i) {
    if (!isHex(static_cast<unsigned char>(s[i]))) return false;
  }
  for (size_t i = dot + 1; i < s.size(); ++i) {
    if (!isUserinfoChar(static_cast<unsigned char>(s[i]))) return false;
  }
  return true;
}

// Parses "[userinfo@]host[:port]" into url; false when it is not a valid authority.
bool parseAuthority(std::string_view authority, Url& url) {
  size_t at = authority.find('@');
  if (at != std::string_view::npos) {
    std::string_view userinfo = authority.substr(0, at);
    if (!validComponent(userinfo, isUserinfoChar)) return false;
    size_t colon = userinfo.find(':');
    url.user = std::string(userinfo.substr(0, colon));
    if (colon != std::string_view::npos) url.password = std::string(userinfo.substr(colon + 1));
    authority.remove_prefix(at + 1);
  }

  std::string_view portText;
  bool hasPort = false;
  if (authority.starts_with('[')) {
    size_t close = authority.find(']');
    if (close == std::string_view::npos) return false;
    std::string_view literal = authority.substr(1, close - 1);
    if (!validIpv6(literal) && !validIpvFuture(literal)) return false;
    url.host = std::string(authority.substr(0, close + 1));
    std::string_view rest = authority.substr(close + 1);
    if (!rest.empty()) {
      if (rest[0] != ':') return false;
      hasPort = true;
      portText = rest.substr(1);
    }
  } else {
    size_t colon = authority.find(':');
    std::string_view host = authority.substr(0, colon);
    if (!validComponent(host, isRegNameChar)) return false;
    url.host = std::string(host);
    if (colon != std::string_view::npos) {
      hasPort = true;
      portText = authority.substr(colon + 1);
    }
  }

  // An empty port ("host:") is allowed and means the scheme's default.
  if (hasPort && !portText.empty()) {
    long value = 0;
    for (unsigned char c : portText) {
      if (!isDigit(c)) return false;
      value = value * 10 + (c - '0');
      if (value > 65535) return false;
    }
    url.port = static_cast<int>(value);
  }
  return true;
}

// Removes "." and ".." segments from a path (RFC 3986 section 5.2.4).
std::string removeDotSegments(std::string_view in) {
  std::string out;
  out.reserve(in.size());
  auto dropLastSegment = [&out] {
    size_t slash = out.rfind('/');
    out.erase(slash == std::string::npos ? 0 : slash);
  };
  while (!in.empty()) {
    if (in.starts_with("../")) {
      in.remove_prefix(3);
    } else if (in.starts_with("./")) {
      in.remove_prefix(2);
    } else if (in.starts_with("/./")) {
      in.remove_prefix(2);
    } else if (in == "/.") {
      in = "/";
    } else if (in.starts_with("/../")) {
      in.remove_prefix(3);
      dropLastSegment();
    } else if (in == "/..") {
      in = "/";
      dropLastSegment();
    } else if (in == "." || in == "..") {
      in = {};
    } else {
      size_t end = in.find('/', 1);
      if (end == std::string_view::npos) end = in.size();
      out.append(in.substr(0, end));
      in.remove_prefix(end);
    }
  }
  return out;
}

std::string compose(const Url& url, bool withCredentials) {
  std::string out;
  if (!url.scheme.empty()) {
    out += url.scheme;
    out += ':';
  }
  if (url.hasAuthority) {
    out += "//";
    if (withCredentials && url.user) {
      out += *url.user;
      if (url.password) {
        out += ':';
        out += *url.password;
      }
      out += '@';
    }
    out += url.host;
    if (url.port) {
      out += ':';
      out += std::to_string(*url.port);
    }
  }
  out += url.path;
  if (url.query) {
    out += '?';
    out += *url.query;
  }
  if (url.fragment) {
    out += '#';
    out += *url.fragment;
  }
  return out;
}

}  // namespace

std::optional<Url> Url::parse(std::string_view text) {
  // Only printable ASCII may appear in a URI reference: no spaces, control characters or raw UTF-8.
  for (unsigned char c : text) {
    if (c <= 0x20 || c >= 0x7F) return std::nullopt;
  }

  Url url;
  std::string_view rest = text;

  size_t delimiter = rest.find_first_of(":/?#");
  if (delimiter != std::string_view::npos && rest[delimiter] == ':') {
    // A first segment holding ":" must be a scheme; a relative path may not begin that way.
    std::string_view scheme = rest.substr(0, delimiter);
    if (scheme.empty() || !isAlpha(static_cast<unsigned char>(scheme[0]))) return std::nullopt;
    for (unsigned char c : scheme) {
      if (!isSchemeChar(c)) return std::nullopt;
    }
    url.scheme = asciiLower(scheme);
    rest.remove_prefix(delimiter + 1);
  }

  if (rest.starts_with("//")) {
    rest.remove_prefix(2);
    size_t end = rest.find_first_of("/?#");
    if (end == std::string_view::npos) end = rest.size();
    url.hasAuthority = true;
    if (!parseAuthority(rest.substr(0, end), url)) return std::nullopt;
    rest.remove_prefix(end);
  }

  size_t pathEnd = rest.find_first_of("?#");
  if (pathEnd == std::string_view::npos) pathEnd = rest.size();
  std::string_view path = rest.substr(0, pathEnd);
  if (!validComponent(path, isPathChar)) return std::nullopt;
  url.path = std::string(path);
  rest.remove_prefix(pathEnd);

  if (rest.starts_with('?')) {
    size_t end = rest.find('#');
    if (end == std::string_view::npos) end = rest.size();
    std::string_view query = rest.substr(1, end - 1);
    if (!validComponent(query, isQueryChar)) return std::nullopt;
    url.query = std::string(query);
    rest.remove_prefix(end);
  }
  if (rest.starts_with('#')) {
    std::string_view fragment = rest.substr(1);
    if (!validComponent(fragment, isQueryChar)) return std::nullopt;
    url.fragment = std::string(fragment);
  }
  return url;
}

std::string Url::absoluteString() const { return compose(*this, true); }

std::string Url::withoutCredentials() const { return compose(*this, false); }

int Url::effectivePort() const {
  if (port) return *port;
  if (scheme == "http" || scheme == "ws") return 80;
  if (scheme == "https" || scheme == "wss") return 443;
  if (scheme == "ftp") return 21;
  return -1;
}

std::string Url::origin() const {
  std::string out = scheme + "://" + asciiLower(host);
  int p = effectivePort();
  if (p >= 0) {
    // Appended in two steps: GCC 12 at -O3 takes ":" + std::to_string(p) for an overlapping copy (a false
    // -Wrestrict warning), which stops the optimised build.
    out += ':';
    out += std::to_string(p);
  }
  return out;
}

std::string Url::decodedPath() const {
  auto decoded = percentDecode(path);
  return decoded ? *decoded : path;
}

std::optional<Url> resolveReference(const Url& base, std::string_view reference) {
  auto ref = Url::parse(reference);
  if (!ref) return std::nullopt;

  Url target;
  if (!ref->scheme.empty()) {
    target = *ref;
    target.path = removeDotSegments(ref->path);
  } else {
    if (ref->hasAuthority) {
      target = *ref;
      target.path = removeDotSegments(ref->path);
    } else {
      target.hasAuthority = base.hasAuthority;
      target.user = base.user;
      target.password = base.password;
      target.host = base.host;
      target.port = base.port;
      if (ref->path.empty()) {
        target.path = base.path;
        target.query = ref->query ? ref->query : base.query;
      } else {
        if (ref->path.starts_with('/')) {
          target.path = removeDotSegments(ref->path);
        } else {
          std::string merged;
          if (base.hasAuthority && base.path.empty()) {
            merged = "/" + ref->path;
          } else {
            size_t slash = base.path.rfind('/');
            merged =
                (slash == std::string::npos ? std::string() : base.path.substr(0, slash + 1)) + ref->path;
          }
          target.path = removeDotSegments(merged);
        }
        target.query = ref->query;
      }
    }
    target.scheme = base.scheme;
  }
  target.fragment = ref->fragment;

  // Without an authority, a path beginning with "//" would be read back as one.
  if (!target.hasAuthority && target.path.starts_with("//")) return std::nullopt;
  return target;
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
