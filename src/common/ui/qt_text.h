#pragma once

#include <QString>
#include <string_view>

namespace krt {

// Our texts are UTF-8 throughout; this is the one way they become Qt's.
inline QString qtText(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace krt
