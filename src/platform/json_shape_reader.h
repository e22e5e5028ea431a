// JsonShapeReader: decodes JSON of a fixed shape in one pass, without building a document. Nesting never
// recurses, values that the shape ignores are passed over without being stored, and the first value of a
// wrong type stops the parse, so a huge or deeply nested file costs no more memory than the values kept.
// A reader decodes one document on one thread. It exposes nlohmann/json: a library that derives a reader
// links nlohmann_json itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace davfp::platform {

class JsonShapeReader : public nlohmann::json_sax<nlohmann::json> {
 public:
  // Feeds the whole document to the reader. False when the bytes are not JSON (malformed, truncated,
  // invalid UTF-8, trailing bytes) or the reader rejected a value.
  bool read(std::string_view bytes);

 protected:
  // A scalar: a string (the reader may move from it), an integer that fits in int64, or something else.
  struct Scalar {
    std::string* string = nullptr;
    std::optional<int64_t> integer;
  };
  enum class Open { descend, skip, reject };

  // depth is the number of containers around the value: 0 for the document itself.
  virtual bool onScalar(size_t depth, Scalar value) = 0;
  // An object or array opens at depth: descend into it, skip all of it, or reject the document.
  virtual Open onOpen(size_t depth, bool isObject) = 0;
  // A member name inside an object that was opened at depth - 1.
  virtual bool onKey(size_t depth, std::string& key) = 0;
  // The container opened at depth has ended.
  virtual bool onClose(size_t depth) = 0;

 private:
  bool null() final { return scalar({}); }
  bool boolean(bool) final { return scalar({}); }
  bool number_integer(number_integer_t value) final { return scalar({.integer = value}); }
  bool number_unsigned(number_unsigned_t value) final;
  bool number_float(number_float_t, const string_t&) final { return scalar({}); }
  bool string(string_t& value) final { return scalar({.string = &value}); }
  bool binary(binary_t&) final { return scalar({}); }
  bool start_object(size_t) final { return open(true); }
  bool start_array(size_t) final { return open(false); }
  bool key(string_t& value) final { return skipFrom_ != 0 || onKey(depth_, value); }
  bool end_object() final { return close(); }
  bool end_array() final { return close(); }
  bool parse_error(size_t, const std::string&, const nlohmann::detail::exception&) final { return false; }

  bool scalar(Scalar value) { return skipFrom_ != 0 || onScalar(depth_, value); }
  bool open(bool isObject);
  bool close();

  size_t depth_ = 0;     // containers open now
  size_t skipFrom_ = 0;  // when not 0: the depth_ just inside the container being skipped
};

}  // namespace davfp::platform
