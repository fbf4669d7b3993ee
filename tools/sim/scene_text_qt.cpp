#include <QtGui/QFont>
#include <QtGui/QGuiApplication>
#include <QtGui/QImage>
#include <QtGui/QPainter>

#include "frame_renderer.h"

namespace krt::sim {
namespace {

// Fonts come from the platform integration, which only a QGuiApplication sets up.
bool fontsAvailable() {
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
}

}  // namespace

void drawTexts(std::span<const SceneText> texts, RasterImage& image) {
    if (texts.empty() || !fontsAvailable()) {
        return;
    }
    QImage canvas(image.pixels.data(), image.width, image.height, image.pitch,
                  QImage::Format_RGB888);
    QPainter painter(&canvas);
    painter.setRenderHint(QPainter::TextAntialiasing);
    for (const SceneText& text : texts) {
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPixelSize(text.pixelSize);
        font.setBold(text.style == TextStyle::Sign);
        painter.setFont(font);
        const QString line = QString::fromStdString(text.text);
        if (text.style == TextStyle::Sign) {
            painter.setPen(QColor(28, 28, 28));
            painter.drawText(text.x, text.baselineY, line);
            continue;
        }
        // A dark shadow keeps a caption readable on sky and ground alike.
        painter.setPen(Qt::black);
        painter.drawText(text.x + 1, text.baselineY + 1, line);
        painter.setPen(Qt::white);
        painter.drawText(text.x, text.baselineY, line);
    }
}

}  // namespace krt::sim
