#pragma once

#include <QString>
#include <string_view>

class QLabel;

namespace krt {

// Our texts are UTF-8 throughout; this is the one way they become Qt's.
inline QString qtText(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Text from the server as every view shows it (shownServerText): for whatever draws plain
// text, combo boxes, notifications and labels set to plain text. A desktop notification body,
// which the notification server may read as markup, takes it through toHtmlEscaped().
QString qtServerText(std::string_view serverText);

// A label that shows text from the server: always plain text, never markup. Its tooltip holds
// the same text, for a label too narrow for all of it.
void setServerText(QLabel& label, std::string_view serverText);

// Plain text for the places that take rich text whenever a text looks like markup (tooltips):
// shown as it reads, line breaks kept.
QString literalRichText(const QString& plain);

}  // namespace krt
