#ifndef OSCNET_TRAINER_JSON_H
#define OSCNET_TRAINER_JSON_H

#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace trainer {

/// A parsed JSON value. Numbers keep whether they were written as whole numbers.
struct JsonValue {
  enum class Kind { null, boolean, number, string, array, object };
  Kind kind = Kind::null;
  bool boolean = false;
  double number = 0.0;
  bool whole_number = false;  ///< written without a fraction or exponent
  std::string text;
  std::vector<JsonValue> items;
  std::vector<std::pair<std::string, JsonValue>> members;  ///< in the order written

  /// The member called `key`, or null.
  const JsonValue* find(std::string_view key) const;
};

class JsonError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// Strict JSON (RFC 8259): no NaN or infinities, no comments, no trailing commas, nothing after
/// the value, no key twice in one object, numbers within the range of doubles. Throws
/// JsonError with the line and column of the fault.
JsonValue parse_json(std::string_view text);

/// The shortest text that reads back as exactly `value`, written as Python writes floats:
/// "0.1", "2.0", "1e-05", "1e+16". `value` must be finite.
std::string format_double(double value);

/// `text` as a JSON string literal, quotes included.
std::string json_string(std::string_view text);

}  // namespace trainer

#endif
