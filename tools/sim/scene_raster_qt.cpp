#include <QtGui/QFont>
#include <QtGui/QGuiApplication>
#include <QtGui/QImage>
#include <QtGui/QPainter>

#include "frame_renderer.h"

namespace krt::sim {
namespace {

QColor toQColor(Rgb colour) {
    return QColor(colour.r, colour.g, colour.b);
}

// Fonts come from the platform integration, which only a QGuiApplication sets up.
bool fontsAvailable() {
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
}

void drawTexts(const Scene& scene, QPainter& painter) {
    for (const SceneText& text : scene.texts) {
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPixelSize(text.pixelSize);
        painter.setFont(font);
        const QString line = QString::fromStdString(text.text);
        // A dark shadow keeps the text readable on sky and ground alike.
        painter.setPen(Qt::black);
        painter.drawText(text.x + 1, text.baselineY + 1, line);
        painter.setPen(Qt::white);
        painter.drawText(text.x, text.baselineY, line);
    }
}

}  // namespace

void rasterizeScene(const Scene& scene, RasterImage& image) {
    image.resize(scene.width, scene.height);
    QImage canvas(image.pixels.data(), image.width, image.height, image.pitch,
                  QImage::Format_RGB888);
    QPainter painter(&canvas);
    painter.fillRect(0, 0, scene.width, scene.horizonY, toQColor(kSkyColour));
    painter.fillRect(0, scene.horizonY, scene.width, scene.height - scene.horizonY,
                     toQColor(kGroundColour));
    for (const SceneRect& rect : scene.rects) {
        painter.fillRect(rect.x, rect.y, rect.width, rect.height, toQColor(rect.colour));
    }
    if (fontsAvailable()) {
        painter.setRenderHint(QPainter::TextAntialiasing);
        drawTexts(scene, painter);
    }
}

}  // namespace krt::sim
