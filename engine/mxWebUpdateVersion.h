// Conversions behind the version forms; internal to the component, open to its tests.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace mxVersion {

// A part of a dotted version as a signed 32-bit integer: leading blanks, an optional sign, then
// decimal digits within range, or "$", "x" or "0x" and up to eight significant hexadecimal digits
// taken as a two's-complement pattern. Anything else counts as 0.
std::int32_t PartToInt(std::u16string_view part);

// A decimal number with "." as the separator and an optional exponent; nothing else may follow.
// None when the text is not such a number or lies beyond the range of a double.
std::optional<double> TextToNumber(std::u16string_view text);

}  // namespace mxVersion
