#include "dav/propfind_parser.h"

#include <expat.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <utility>

#include "dav/http_date.h"
#include "platform/text.h"
#include "platform/url.h"

namespace davfp {

namespace {

// Expat reports a namespaced name as "URI<separator>local"; no local name can hold a space.
constexpr char kNamespaceSeparator = ' ';

// A value longer than any real file name, path or entity tag: a body that sends one ends the parse rather
// than grow memory without bound.
constexpr size_t kMaxValueBytes = 1 << 20;

// Input that expat holds without reporting anything (one unfinished element name, attribute, comment or
// declaration) is buffered whole; more than this ends the parse.
constexpr uint64_t kMaxPendingBytes = 1 << 20;

// Elements open at once. A multistatus body needs fewer than ten levels; each level costs expat memory, so a
// body nested deeper ends the parse.
constexpr size_t kMaxDepth = 64;

// The elements the parser acts on, by local name; every other element is `other`.
enum class Element : uint8_t {
  other,
  multistatus,
  response,
  collection,
  href,
  contentLength,
  lastModified,
  etag
};

Element classify(const XML_Char* name) {
  // One pass to the local name (after the last separator), then one comparison: this runs for every element
  // of bodies that may hold millions of them.
  const XML_Char* local = name;
  for (const XML_Char* p = name; *p != '\0'; ++p) {
    if (*p == kNamespaceSeparator) local = p + 1;
  }
  switch (local[0]) {
    case 'm':
      return std::strcmp(local, "multistatus") == 0 ? Element::multistatus : Element::other;
    case 'r':
      return std::strcmp(local, "response") == 0 ? Element::response : Element::other;
    case 'c':
      return std::strcmp(local, "collection") == 0 ? Element::collection : Element::other;
    case 'h':
      return std::strcmp(local, "href") == 0 ? Element::href : Element::other;
    case 'g':
      if (std::strcmp(local, "getcontentlength") == 0) return Element::contentLength;
      if (std::strcmp(local, "getlastmodified") == 0) return Element::lastModified;
      if (std::strcmp(local, "getetag") == 0) return Element::etag;
      return Element::other;
    default:
      return Element::other;
  }
}

// Elements whose character data is read; the text of every other element is never stored.
bool holdsValue(Element e) {
  return e == Element::href || e == Element::contentLength || e == Element::lastModified ||
         e == Element::etag;
}

// A length in bytes: ASCII decimal digits, optionally after a "+", within the signed 64-bit range. Anything
// else (empty, a sign alone, a negative number, other characters, out of range) is no length at all.
std::optional<int64_t> parseContentLength(std::string_view value) {
  if (value.starts_with('+')) value.remove_prefix(1);
  if (value.empty()) return std::nullopt;
  for (char c : value) {
    if (c < '0' || c > '9') return std::nullopt;
  }
  int64_t result = 0;
  auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), result);
  if (error != std::errc() || end != value.data() + value.size()) return std::nullopt;
  return result;
}

// A path as the engine keeps it: every well-formed escape read as its byte, and a "%" that begins none kept
// as itself, so that the request layer, which escapes the text kept, addresses the resource the href names.
// None when the result is not UTF-8: no name could show it, and no path the engine keeps would address it.
std::optional<std::string> decodePath(std::string_view encoded) {
  return platform::percentDecode(encoded, platform::MalformedEscape::keep);
}

// The parse state of one body: the expat parser, the fields of the response being read, and what is kept.
class ResponseReader {
 public:
  ResponseReader(std::string_view basePath, std::function<void(DavEntry&&)> sink);

  void feed(std::string_view bytes);
  std::vector<DavEntry> finish();

  // Called by expat through the trampolines below.
  void start(const XML_Char* name);
  void characters(const XML_Char* s, int len);
  void end();
  // Ends the parse; error, when set, is rethrown to the caller of feed() or finish().
  void stop(std::exception_ptr error = nullptr);
  // Notes that expat reported the input up to the end of the current event.
  void reported();
  bool stopped() const { return stopped_ || finished_; }
  bool complete() const { return complete_; }

 private:
  struct ParserFree {
    void operator()(XML_Parser p) const { XML_ParserFree(p); }
  };

  void finishEntry();
  std::optional<std::string> relativePath(std::string_view href) const;
  size_t baseLength(std::string_view encodedPath) const;
  void rethrowError();

  std::unique_ptr<XML_ParserStruct, ParserFree> parser_;
  std::string basePath_;    // percent-decoded, without a trailing "/"
  size_t baseSlashes_ = 0;  // how many "/" basePath_ holds
  std::function<void(DavEntry&&)> sink_;
  std::vector<DavEntry> out_;
  std::exception_ptr error_;
  // An XML error, an overlong value or unreported stretch of input, nesting too deep, an entity declaration
  // or a failing sink.
  bool stopped_ = false;
  bool finished_ = false;
  bool multistatus_ = false;  // the document element is a multistatus
  bool complete_ = false;     // finish() parsed the whole body as one multistatus document, without error
  uint64_t fed_ = 0;       // bytes handed to expat
  uint64_t reported_ = 0;  // the end of the last event expat reported

  std::vector<Element> open_;  // the open elements, innermost last
  bool collecting_ = false;    // the innermost open element holds a value: its character data goes to text_
  std::string text_;           // character data since the most recent element start or end

  // The response being read.
  std::string href_;
  bool isDir_ = false;
  std::optional<int64_t> size_;
  std::optional<std::chrono::system_clock::time_point> modified_;
  std::optional<std::string> etag_;
};

// Expat is C: its callbacks must not let an exception through, so each one hands failures to stop().
extern "C" {

static void onStartElement(void* reader, const XML_Char* name, const XML_Char** /*attributes*/) {
  auto self = static_cast<ResponseReader*>(reader);
  self->reported();
  try {
    self->start(name);
  } catch (...) {
    self->stop(std::current_exception());
  }
}

static void onEndElement(void* reader, const XML_Char* /*name*/) {
  auto self = static_cast<ResponseReader*>(reader);
  self->reported();
  try {
    self->end();
  } catch (...) {
    self->stop(std::current_exception());
  }
}

static void onCharacters(void* reader, const XML_Char* s, int len) {
  auto self = static_cast<ResponseReader*>(reader);
  self->reported();
  try {
    self->characters(s, len);
  } catch (...) {
    self->stop(std::current_exception());
  }
}

// A multistatus body has no use for entities of its own; declaring one (the start of every entity expansion
// attack) ends the parse before anything is expanded.
static void onEntityDeclaration(void* reader, const XML_Char*, int, const XML_Char*, int, const XML_Char*,
                                const XML_Char*, const XML_Char*, const XML_Char*) {
  static_cast<ResponseReader*>(reader)->stop();
}

}  // extern "C"

ResponseReader::ResponseReader(std::string_view basePath, std::function<void(DavEntry&&)> sink)
    : parser_(XML_ParserCreateNS(nullptr, kNamespaceSeparator)), basePath_(basePath), sink_(std::move(sink)) {
  if (!parser_) throw std::bad_alloc();
  if (basePath_.ends_with('/')) basePath_.pop_back();
  for (char c : basePath_) baseSlashes_ += c == '/';

  XML_Parser p = parser_.get();
  XML_SetUserData(p, this);
  XML_SetElementHandler(p, onStartElement, onEndElement);
  XML_SetCharacterDataHandler(p, onCharacters);
  XML_SetEntityDeclHandler(p, onEntityDeclaration);
  // No external entity handler is installed and parameter entities are never parsed, so no DTD, external
  // subset or external entity is ever read; expat's amplification limits stay at their defaults.
  XML_SetParamEntityParsing(p, XML_PARAM_ENTITY_PARSING_NEVER);
}

void ResponseReader::feed(std::string_view bytes) {
  while (!stopped_ && !finished_ && !bytes.empty()) {
    size_t n = std::min<size_t>(bytes.size(), INT_MAX / 2);
    if (XML_Parse(parser_.get(), bytes.data(), static_cast<int>(n), XML_FALSE) != XML_STATUS_OK) {
      stopped_ = true;
    }
    fed_ += n;
    // Expat keeps what it has not reported: a token that grows this long would be held whole.
    if (fed_ - reported_ > kMaxPendingBytes) stopped_ = true;
    bytes.remove_prefix(n);
  }
  rethrowError();
}

std::vector<DavEntry> ResponseReader::finish() {
  if (!stopped_ && !finished_) {
    // Expat reports a body that ends before its document element does (empty, cut off) as an error here.
    if (XML_Parse(parser_.get(), nullptr, 0, XML_TRUE) != XML_STATUS_OK) stopped_ = true;
    complete_ = !stopped_ && multistatus_;
  }
  finished_ = true;
  rethrowError();
  return std::move(out_);
}

void ResponseReader::rethrowError() {
  if (!error_) return;
  std::exception_ptr error = std::exchange(error_, nullptr);
  std::rethrow_exception(error);
}

void ResponseReader::stop(std::exception_ptr error) {
  // Expat may still deliver a callback or two after being stopped; they are ignored.
  if (stopped_) return;
  stopped_ = true;
  error_ = std::move(error);
  XML_StopParser(parser_.get(), XML_FALSE);
}

void ResponseReader::reported() {
  XML_Parser p = parser_.get();
  reported_ =
      static_cast<uint64_t>(XML_GetCurrentByteIndex(p)) + static_cast<uint64_t>(XML_GetCurrentByteCount(p));
}

void ResponseReader::start(const XML_Char* name) {
  if (stopped_) return;
  if (open_.size() == kMaxDepth) {
    stop();
    return;
  }
  Element element = classify(name);
  if (open_.empty()) multistatus_ = element == Element::multistatus;
  open_.push_back(element);
  text_.clear();
  collecting_ = holdsValue(element);
  if (element == Element::response) {
    href_.clear();
    isDir_ = false;
    size_.reset();
    modified_.reset();
    etag_.reset();
  } else if (element == Element::collection) {
    // Any element of this local name inside the response marks it a folder, wherever it stands.
    isDir_ = true;
  }
}

void ResponseReader::characters(const XML_Char* s, int len) {
  if (stopped_ || !collecting_) return;
  if (text_.size() + static_cast<size_t>(len) > kMaxValueBytes) {
    stop();
    return;
  }
  text_.append(s, static_cast<size_t>(len));
}

void ResponseReader::end() {
  if (stopped_ || open_.empty()) return;
  // Expat reports only well-formed bodies, so the element that ends is the innermost one open.
  Element element = open_.back();
  open_.pop_back();
  std::string_view value = platform::trimWhitespace(text_);
  switch (element) {
    case Element::href:
      href_.assign(value);
      break;
    case Element::contentLength:
      size_ = parseContentLength(value);
      break;
    case Element::lastModified:
      modified_ = parseHttpDate(value);
      break;
    case Element::etag:
      if (value.empty()) {
        etag_.reset();
      } else {
        etag_.emplace(value);
      }
      break;
    case Element::response:
      finishEntry();
      break;
    case Element::multistatus:
    case Element::collection:
    case Element::other:
      break;
  }
  text_.clear();
  collecting_ = !open_.empty() && holdsValue(open_.back());
}

void ResponseReader::finishEntry() {
  std::optional<std::string> path = relativePath(href_);
  // A resource whose path is no text is left out: nothing the engine keeps could name or address it.
  if (!path) return;
  DavEntry entry{
      .path = std::move(*path), .isDir = isDir_, .size = size_, .modified = modified_, .etag = etag_};
  if (sink_) {
    sink_(std::move(entry));
  } else {
    out_.push_back(std::move(entry));
  }
}

// The length of the leading part of encodedPath that names the base path, or npos when the path is not under
// it. The base path arrives percent-decoded while hrefs are encoded, with either case of hex digits and each
// server's own choice of which characters to escape; so the two are compared in one form: the href's leading
// components decoded, then compared with the base path under canonical equivalence (a base path with
// non-ASCII letters may be spelt composed on one side and decomposed on the other). Percent-decoding and
// normalisation never add or remove a "/" separator, so the only candidate is the part before the literal "/"
// (or the end) at which the decoded text has passed as many "/" as the base path holds.
size_t ResponseReader::baseLength(std::string_view encodedPath) const {
  size_t slashes = 0;
  size_t cut = std::string_view::npos;
  for (size_t i = 0; i <= encodedPath.size(); ++i) {
    if (i == encodedPath.size() || encodedPath[i] == '/') {
      if (slashes == baseSlashes_) {
        cut = i;
        break;
      }
      if (i == encodedPath.size()) break;
      ++slashes;
    } else if (encodedPath[i] == '%' && i + 2 < encodedPath.size() && encodedPath[i + 1] == '2' &&
               (encodedPath[i + 2] == 'F' || encodedPath[i + 2] == 'f')) {
      ++slashes;
    }
    if (slashes > baseSlashes_) break;
  }
  if (cut == std::string_view::npos) return cut;
  // What servers send: the base path spelt as it is, nothing escaped. Such a spelling decodes to itself (when
  // it is UTF-8), and equal text is canonically equal: nothing need be decoded or normalised.
  std::string_view spelt = encodedPath.substr(0, cut);
  if (spelt == basePath_ && spelt.find('%') == std::string_view::npos && platform::isValidUtf8(spelt)) return cut;
  auto prefix = platform::percentDecode(spelt);
  if (!prefix || !platform::canonicalEqual(*prefix, basePath_)) return std::string_view::npos;
  return cut;
}

std::optional<std::string> ResponseReader::relativePath(std::string_view href) const {
  // The path of the href in encoded form: an absolute URL gives its path, a query or fragment is dropped;
  // an href that is not a valid URL reference is taken as it is.
  // An absolute path without query or fragment, what servers send, is its own path, valid or not.
  std::optional<std::string> referencePath;
  std::string_view encoded = href;
  bool plainPath = href.starts_with('/') && !href.starts_with("//") &&
                   std::none_of(href.begin(), href.end(), [](char c) { return c == '?' || c == '#'; });
  if (!plainPath) {
    referencePath = platform::pathOfReference(href);
    if (referencePath) encoded = *referencePath;
  }

  size_t cut = baseLength(encoded);
  std::string_view rest = cut == std::string_view::npos ? encoded : encoded.substr(cut);

  std::optional<std::string> decoded = decodePath(rest);
  if (!decoded) return std::nullopt;
  std::string& path = *decoded;
  if (path.size() >= 2 && path.ends_with('/')) path.pop_back();
  if (!path.starts_with('/')) path.insert(0, 1, '/');
  return decoded;
}

}  // namespace

struct PropfindParser::Impl : ResponseReader {
  using ResponseReader::ResponseReader;
};

PropfindParser::PropfindParser(std::string_view basePath) : PropfindParser(basePath, nullptr) {}

PropfindParser::PropfindParser(std::string_view basePath, std::function<void(DavEntry&&)> sink)
    : impl_(std::make_unique<Impl>(basePath, std::move(sink))) {}

PropfindParser::~PropfindParser() = default;

void PropfindParser::feed(std::string_view bytes) { impl_->feed(bytes); }

bool PropfindParser::stopped() const { return impl_->stopped(); }

std::vector<DavEntry> PropfindParser::finish() { return impl_->finish(); }

bool PropfindParser::complete() const { return impl_->complete(); }

std::vector<DavEntry> PropfindParser::parse(std::string_view body, std::string_view basePath) {
  PropfindParser parser(basePath);
  parser.feed(body);
  return parser.finish();
}

}  // namespace davfp
