#include "platform/json_shape_reader.h"

#include <limits>

namespace davfp::platform {

bool JsonShapeReader::read(std::string_view bytes) {
  depth_ = 0;
  skipFrom_ = 0;
  // Strict: the document must end where the bytes end. Errors come back through parse_error, not as throws.
  // The parser calls through the public interface; the overrides stay private to this class.
  nlohmann::json_sax<nlohmann::json>* sax = this;
  return nlohmann::json::sax_parse(bytes.begin(), bytes.end(), sax, nlohmann::json::input_format_t::json,
                                   /*strict=*/true, /*ignore_comments=*/false);
}

bool JsonShapeReader::number_unsigned(number_unsigned_t value) {
  if (value > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return scalar({});
  return scalar({.integer = static_cast<int64_t>(value)});
}

bool JsonShapeReader::open(bool isObject) {
  if (skipFrom_ != 0) {
    ++depth_;
    return true;
  }
  switch (onOpen(depth_, isObject)) {
    case Open::descend:
      ++depth_;
      return true;
    case Open::skip:
      skipFrom_ = ++depth_;
      return true;
    case Open::reject:
      break;
  }
  return false;
}

bool JsonShapeReader::close() {
  if (skipFrom_ != 0) {
    if (depth_ == skipFrom_) skipFrom_ = 0;
    --depth_;
    return true;
  }
  --depth_;
  return onClose(depth_);
}

}  // namespace davfp::platform
