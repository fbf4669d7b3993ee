#pragma once

#include <optional>
#include <string_view>

namespace krt {

// The integer of a numeric dialog field: optional blanks, an optional sign, decimal digits and
// optional blanks. Anything else, and numbers beyond the range of int, are not integers.
std::optional<int> parseDialogInteger(std::string_view text);

}  // namespace krt
