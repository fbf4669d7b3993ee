#include "common/ui/dialog_template.h"

#include <QFontMetrics>
#include <QWidget>
#include <algorithm>

namespace krt {

DialogBaseUnits dialogBaseUnits(const QFont& font) {
    static const QString kAlphabet =
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const QFontMetrics metrics(font);
    const int averageWidth = (metrics.horizontalAdvance(kAlphabet) / 26 + 1) / 2;
    return {averageWidth, metrics.height()};
}

void placeFromTemplate(QWidget* control, const DialogRect& units) {
    const DialogRect pixels = dialogUnitsToPixels(units, dialogBaseUnits(control->font()));
    const QSize hint = control->sizeHint();
    control->setGeometry(pixels.x, pixels.y, std::max(pixels.width, hint.width()),
                         std::max(pixels.height, hint.height()));
}

void sizeFromTemplate(QWidget* dialog, int widthUnits, int heightUnits) {
    const DialogRect pixels =
        dialogUnitsToPixels({0, 0, widthUnits, heightUnits}, dialogBaseUnits(dialog->font()));
    dialog->setMinimumSize(pixels.width, pixels.height);
    dialog->resize(pixels.width, pixels.height);
}

void moveTo(QWidget* control, ControlPosition position) {
    control->move(position.x, position.y);
}

}  // namespace krt
