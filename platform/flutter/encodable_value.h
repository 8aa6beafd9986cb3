#pragma once
// The values carried by Flutter's standard codec, shaped as the Flutter
// client wrapper's EncodableValue: a std::variant with a few helpers.
#include <compare>
#include <cstdint>
#include <map>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

namespace flutter {

class EncodableValue;

using EncodableList = std::vector<EncodableValue>;
using EncodableMap = std::map<EncodableValue, EncodableValue>;

namespace internal {
using EncodableValueVariant =
    std::variant<std::monostate, bool, int32_t, int64_t, double, std::string, std::vector<uint8_t>,
                 std::vector<int32_t>, std::vector<int64_t>, std::vector<double>, EncodableList, EncodableMap,
                 std::vector<float>>;
}  // namespace internal

class EncodableValue : public internal::EncodableValueVariant {
 public:
  using super = internal::EncodableValueVariant;

  EncodableValue() = default;
  EncodableValue(const EncodableValue&) = default;
  EncodableValue(EncodableValue&&) noexcept = default;
  EncodableValue& operator=(const EncodableValue&) = default;
  EncodableValue& operator=(EncodableValue&&) noexcept = default;

  // Explicit, so that a pointer never silently becomes a bool.
  explicit EncodableValue(const char* string) : super(std::string(string)) {}
  EncodableValue& operator=(const char* string) {
    super::operator=(std::string(string));
    return *this;
  }

  template <class T>
    requires(!std::is_same_v<std::remove_cvref_t<T>, EncodableValue> &&
             !std::is_same_v<std::remove_cvref_t<T>, const char*> && std::is_constructible_v<super, T &&>)
  constexpr explicit EncodableValue(T&& value) : super(std::forward<T>(value)) {}

  bool IsNull() const { return std::holds_alternative<std::monostate>(*this); }

  // The integer held as int32 or int64, widened.
  int64_t LongValue() const {
    if (std::holds_alternative<int32_t>(*this)) return std::get<int32_t>(*this);
    return std::get<int64_t>(*this);
  }

  // Ordering for EncodableMap keys and equality, written out element by
  // element: the standard comparisons of a variant holding containers of
  // itself recurse while the compiler checks their constraints.
  friend bool operator<(const EncodableValue& lhs, const EncodableValue& rhs) { return Compare(lhs, rhs) < 0; }
  friend bool operator==(const EncodableValue& lhs, const EncodableValue& rhs) { return Compare(lhs, rhs) == 0; }
  friend bool operator!=(const EncodableValue& lhs, const EncodableValue& rhs) { return Compare(lhs, rhs) != 0; }
  friend std::weak_ordering operator<=>(const EncodableValue& lhs, const EncodableValue& rhs) {
    int c = Compare(lhs, rhs);
    return c < 0 ? std::weak_ordering::less : (c > 0 ? std::weak_ordering::greater : std::weak_ordering::equivalent);
  }

 private:
  template <typename T>
  static int CompareScalar(const T& a, const T& b) {
    return a < b ? -1 : (b < a ? 1 : 0);
  }
  template <typename T>
  static int CompareSequence(const std::vector<T>& a, const std::vector<T>& b) {
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
      int c;
      if constexpr (std::is_same_v<T, EncodableValue>)
        c = Compare(a[i], b[i]);
      else
        c = CompareScalar(a[i], b[i]);
      if (c) return c;
    }
    return CompareScalar(a.size(), b.size());
  }
  static int Compare(const EncodableValue& a, const EncodableValue& b) {
    if (a.index() != b.index()) return a.index() < b.index() ? -1 : 1;
    switch (a.index()) {
      case 0: return 0;
      case 1: return CompareScalar(std::get<1>(a), std::get<1>(b));
      case 2: return CompareScalar(std::get<2>(a), std::get<2>(b));
      case 3: return CompareScalar(std::get<3>(a), std::get<3>(b));
      case 4: return CompareScalar(std::get<4>(a), std::get<4>(b));
      case 5: return CompareScalar(std::get<5>(a), std::get<5>(b));
      case 6: return CompareSequence(std::get<6>(a), std::get<6>(b));
      case 7: return CompareSequence(std::get<7>(a), std::get<7>(b));
      case 8: return CompareSequence(std::get<8>(a), std::get<8>(b));
      case 9: return CompareSequence(std::get<9>(a), std::get<9>(b));
      case 10: return CompareSequence(std::get<10>(a), std::get<10>(b));
      case 11: {
        const auto& x = std::get<11>(a);
        const auto& y = std::get<11>(b);
        auto i = x.begin();
        auto j = y.begin();
        for (; i != x.end() && j != y.end(); ++i, ++j) {
          if (int c = Compare(i->first, j->first)) return c;
          if (int c = Compare(i->second, j->second)) return c;
        }
        return CompareScalar(x.size(), y.size());
      }
      case 12: return CompareSequence(std::get<12>(a), std::get<12>(b));
    }
    return 0;
  }
};

}  // namespace flutter
