#include "common/ui/qt_text.h"

#include <QLabel>
#include <QTextDocument>

#include "common/server_text.h"

namespace krt {

QString qtServerText(std::string_view serverText) {
    return qtText(shownServerText(serverText));
}

void setServerText(QLabel& label, std::string_view serverText) {
    const QString shown = qtServerText(serverText);
    label.setTextFormat(Qt::PlainText);
    label.setText(shown);
    label.setToolTip(shown.isEmpty() ? QString() : literalRichText(shown));
}

QString literalRichText(const QString& plain) {
    return Qt::convertFromPlainText(plain, Qt::WhiteSpaceNormal);
}

}  // namespace krt
