/// @file
/// One entry of a device's properties map: empty, an integer or a text.
#ifndef VEXA_PROPERTY_VALUE_H_
#define VEXA_PROPERTY_VALUE_H_

#include <cstdint>
#include <map>
#include <string>

namespace Vexa {

/// One property value: empty, an integer or a text.
class PropertyValue {
 public:
  /// What the value holds; the numbers are the device library's own codes.
  enum Kind : int32_t {
    kEmpty = 0,    ///< nothing (a missing key read with operator[])
    kInteger = 2,  ///< an integer
    kString = 4    ///< a text
  };

  /// An empty value.
  PropertyValue() = default;
  /// An integer value.
  explicit PropertyValue(int32_t value) : kind_(kInteger), integer_(value) {}
  /// A text value.
  explicit PropertyValue(std::string text) : kind_(kString), text_(std::move(text)) {}

  /// What the value holds.
  Kind kind() const { return kind_; }
  /// The integer; 0 for any other kind, so an empty value reads as 0.
  int32_t asInt() const { return kind_ == kInteger ? integer_ : 0; }
  /// The text; "" for any other kind, so an empty value reads as "".
  const std::string& asString() const { return text_; }

  /// Same kind and same content.
  bool operator==(const PropertyValue& o) const {
    return kind_ == o.kind_ && integer_ == o.integer_ && text_ == o.text_;
  }

 private:
  Kind kind_ = kEmpty;
  int32_t integer_ = 0;
  std::string text_;
};

/// A device's properties by name ("path", "description", "productID", ...).
using Properties = std::map<std::string, PropertyValue>;

}  // namespace Vexa

#endif  // VEXA_PROPERTY_VALUE_H_
