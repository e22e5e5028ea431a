#include "expat_alone.h"

#include <new>

namespace davfp::bench {

namespace {

extern "C" {
void emptyStart(void*, const XML_Char*, const XML_Char**) {}
void emptyEnd(void*, const XML_Char*) {}
void emptyCharacters(void*, const XML_Char*, int) {}
}

}  // namespace

ParserPtr emptyHandlerParser() {
  ParserPtr parser(XML_ParserCreateNS(nullptr, ' '));
  if (!parser) throw std::bad_alloc();
  XML_SetElementHandler(parser.get(), emptyStart, emptyEnd);
  XML_SetCharacterDataHandler(parser.get(), emptyCharacters);
  return parser;
}

}  // namespace davfp::bench
