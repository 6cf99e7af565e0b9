// One entry of a device's properties map: empty, an integer or a text.
#ifndef VEXA_PROPERTY_VALUE_H_
#define VEXA_PROPERTY_VALUE_H_

#include <cstdint>
#include <map>
#include <string>

namespace Vexa {

class PropertyValue {
 public:
  enum Kind : int32_t { kEmpty = 0, kInteger = 2, kString = 4 };

  PropertyValue() = default;
  explicit PropertyValue(int32_t value) : kind_(kInteger), integer_(value) {}
  explicit PropertyValue(std::string text) : kind_(kString), text_(std::move(text)) {}

  Kind kind() const { return kind_; }
  // An empty value reads as 0 and as "".
  int32_t asInt() const { return kind_ == kInteger ? integer_ : 0; }
  const std::string& asString() const { return text_; }

  bool operator==(const PropertyValue& o) const {
    return kind_ == o.kind_ && integer_ == o.integer_ && text_ == o.text_;
  }

 private:
  Kind kind_ = kEmpty;
  int32_t integer_ = 0;
  std::string text_;
};

using Properties = std::map<std::string, PropertyValue>;

}  // namespace Vexa

#endif  // VEXA_PROPERTY_VALUE_H_
