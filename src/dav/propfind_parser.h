// PropfindParser: turns a PROPFIND multistatus body into DavEntry values, one per response element, in
// document order, with each path made relative to the drive's base path and percent-decoded. A response whose
// path does not decode to UTF-8 gives no entry: no path the engine keeps could name or address it. The body
// is fed in pieces of any size as it arrives and is never held whole; per response only its current fields
// are kept.
//
// Malformed XML ends the parse silently at its first error: the entries finished before it are kept, the
// response in progress is dropped and later pieces are ignored; complete() tells whether the body was one
// whole multistatus document, which a caller needs before it takes the entries for a folder's contents. No
// DTD can make it fetch anything or expand entities: a body that declares an entity ends the parse there.
// Memory stays bounded whatever the body: a value read over 1 MiB, more than 1 MiB of input held unreported
// (one endless tag or comment) or elements nested more than 64 deep end the parse in the same way. What stays
// is the entries: each holds at most two values of 1 MiB (its path and its entity tag).
//
// One parser serves one body on one thread at a time; distinct parsers are independent.
#pragma once

#include <functional>
#include <memory>
#include <string_view>
#include <vector>

#include "dav/entry.h"

namespace davfp {

class PropfindParser {
 public:
  // basePath is the percent-decoded path of the base URL; one trailing "/" is removed.
  explicit PropfindParser(std::string_view basePath);
  // Hands each finished entry to sink instead of keeping it; finish() then returns nothing. An exception
  // thrown by sink ends the parse and is rethrown from the feed() or finish() that delivered the entry.
  PropfindParser(std::string_view basePath, std::function<void(DavEntry&&)> sink);
  ~PropfindParser();
  PropfindParser(const PropfindParser&) = delete;
  PropfindParser& operator=(const PropfindParser&) = delete;

  // Parses the next piece of the body. Pieces may split tags and UTF-8 sequences anywhere.
  void feed(std::string_view bytes);
  // True once the parse has ended (an error, a limit, finish()): later pieces would be ignored, so the rest
  // of the body need not be read.
  bool stopped() const;
  // Ends the body and returns the entries kept so far. Later feeds are ignored.
  std::vector<DavEntry> finish();
  // True once finish() has read the whole body as one document whose element is a multistatus (of any
  // namespace), to its end, without an error, an entity declaration or a limit reached.
  bool complete() const;

  // The entries of a whole body, complete or not. Never fails.
  static std::vector<DavEntry> parse(std::string_view body, std::string_view basePath);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace davfp
