#pragma once

#include <optional>
#include <string_view>

namespace krt {

// The integer of a numeric dialog field: optional blanks, an optional sign, decimal digits and
// optional blanks. Anything else, and numbers beyond the range of int, are not integers.
std::optional<int> parseDialogInteger(std::string_view text);

// A stored switch is on exactly when its text is "true", in any mix of letter case.
bool isStoredTrue(std::string_view text);

// The stored "RememberLogin" counts only when its decimal value is 1.
bool isRememberedLogin(std::string_view text);

}  // namespace krt
