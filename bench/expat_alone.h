// expat alone: a parser with namespace processing (as the engine's) whose element and character handlers do
// nothing. The baseline of parsing: no client that reads a multistatus body can spend less.
#pragma once

#include <expat.h>

#include <memory>

namespace davfp::bench {

struct ParserFree {
  void operator()(XML_Parser p) const { XML_ParserFree(p); }
};
using ParserPtr = std::unique_ptr<XML_ParserStruct, ParserFree>;

// Throws std::bad_alloc when expat cannot create a parser.
ParserPtr emptyHandlerParser();

}  // namespace davfp::bench
