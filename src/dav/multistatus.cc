#include "dav/multistatus.h"

#include <expat.h>

#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/text.h"
#include "platform/url.h"

namespace davfp {

namespace {

constexpr char kNamespaceSeparator = ' ';
constexpr size_t kMaxDepth = 64;

// The local name of an element that expat reports as "URI<separator>local".
std::string_view localName(const XML_Char* name) {
  const char* local = std::strrchr(name, kNamespaceSeparator);
  return local ? local + 1 : name;
}

// The code of a status line ("HTTP/1.1 412 Precondition Failed"); none for anything else.
std::optional<int> statusCode(std::string_view line) {
  size_t space = line.find(' ');
  if (space == std::string_view::npos || line.size() < space + 4) return std::nullopt;
  std::string_view digits = line.substr(space + 1, 3);
  int code = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    code = code * 10 + (c - '0');
  }
  if (line.size() > space + 4 && line[space + 4] != ' ') return std::nullopt;
  if (code < 100 || code > 599) return std::nullopt;
  return code;
}

// A decoded path without its trailing "/", as a request URL and an href are compared.
std::string comparable(const platform::Url& url) {
  std::string path = url.decodedPath();
  while (path.size() > 1 && path.ends_with('/')) path.pop_back();
  return path;
}

class Reader {
 public:
  explicit Reader(std::string_view url) : request_(platform::Url::parse(url)) {
    if (request_) target_ = comparable(*request_);
  }

  std::optional<int> read(std::string_view body) {
    std::unique_ptr<XML_ParserStruct, decltype(&XML_ParserFree)> parser(
        XML_ParserCreateNS(nullptr, kNamespaceSeparator), XML_ParserFree);
    if (!parser) return std::nullopt;
    parser_ = parser.get();
    XML_SetUserData(parser_, this);
    XML_SetElementHandler(parser_, onStart, onEnd);
    XML_SetCharacterDataHandler(parser_, onCharacters);
    XML_SetEntityDeclHandler(parser_, onEntityDeclaration);
    XML_SetParamEntityParsing(parser_, XML_PARAM_ENTITY_PARSING_NEVER);
    // The body is at most the part of an answer that the client reads (kMaxAnswerBody): one call parses it.
    if (body.size() <= INT_MAX) XML_Parse(parser_, body.data(), static_cast<int>(body.size()), XML_TRUE);
    if (own_) return own_;
    return failing_ ? failing_ : dependency_;
  }

 private:
  static void onStart(void* self, const XML_Char* name, const XML_Char**) {
    static_cast<Reader*>(self)->guarded([&](Reader& r) { r.start(localName(name)); });
  }
  static void onEnd(void* self, const XML_Char*) {
    static_cast<Reader*>(self)->guarded([](Reader& r) { r.end(); });
  }
  static void onCharacters(void* self, const XML_Char* s, int len) {
    static_cast<Reader*>(self)->guarded([&](Reader& r) { r.text_.append(s, static_cast<size_t>(len)); });
  }
  // Nothing is expanded: an entity declaration ends the parse.
  static void onEntityDeclaration(void* self, const XML_Char*, int, const XML_Char*, int, const XML_Char*,
                                  const XML_Char*, const XML_Char*, const XML_Char*) {
    static_cast<Reader*>(self)->stop();
  }

  // Expat is C: nothing may be thrown through it.
  template <class F>
  void guarded(F f) {
    if (stopped_) return;
    try {
      f(*this);
    } catch (...) {
      stop();
    }
  }
  void stop() {
    if (stopped_) return;
    stopped_ = true;
    XML_StopParser(parser_, XML_FALSE);
  }

  void start(std::string_view name) {
    if (open_.size() == kMaxDepth) return stop();
    open_.emplace_back(name);
    text_.clear();
    if (name == "response") {
      href_.clear();
      status_.reset();
    }
  }

  void end() {
    std::string name = std::move(open_.back());
    open_.pop_back();
    const bool inResponse = !open_.empty() && open_.back() == "response";
    std::string_view value = platform::trimWhitespace(text_);
    if (name == "href" && inResponse && href_.empty()) {
      href_ = value;
    } else if (name == "status" && inResponse && !status_) {
      // The response's own status, not a property's (inside propstat).
      status_ = statusCode(value);
    } else if (name == "response") {
      finishResponse();
    }
    text_.clear();
  }

  void finishResponse() {
    if (!status_ || (*status_ >= 200 && *status_ <= 299)) return;
    if (!own_ && request_ && !href_.empty()) {
      auto href = request_->resolve(href_);
      if (href && platform::canonicalEqual(comparable(*href), target_)) {
        own_ = status_;
        return;
      }
    }
    if (*status_ == 424) {
      if (!dependency_) dependency_ = status_;
    } else if (!failing_) {
      failing_ = status_;
    }
  }

  XML_Parser parser_ = nullptr;
  std::optional<platform::Url> request_;
  std::string target_;
  bool stopped_ = false;
  std::vector<std::string> open_;  // local names of the open elements, innermost last
  std::string text_;               // character data since the last element start or end
  std::string href_;               // of the response being read
  std::optional<int> status_;      // of the response being read
  std::optional<int> own_, failing_, dependency_;
};

}  // namespace

std::optional<int> multiStatusFailure(std::string_view body, std::string_view url) {
  return Reader(url).read(body);
}

}  // namespace davfp
