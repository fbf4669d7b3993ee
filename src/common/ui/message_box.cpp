#include "common/ui/message_box.h"

#include <QApplication>
#include <QMessageBox>
#include <QSet>

#include "common/ui/qt_text.h"
#include "protocol/message_sink.h"

namespace krt {
namespace {

// Message boxes are shown on the GUI thread only, so the installed function needs no lock.
MessageBoxFunction& installedFunction() {
    static MessageBoxFunction function;
    return function;
}

void showModalBox(const MessageBoxRequest& request) {
    const QMessageBox::Icon icon =
        request.icon == MessageIcon::Error ? QMessageBox::Critical : QMessageBox::Warning;
    QMessageBox box(icon, request.caption, request.text, QMessageBox::Ok, request.owner);
    // A text that looks like markup is still shown as it reads.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

// The texts of the boxes open now (GUI thread only).
QSet<QString>& openTexts() {
    static QSet<QString> texts;
    return texts;
}

}  // namespace

void showMessageBox(const MessageBoxRequest& request) {
    // One box at a time for one text: a server that keeps sending garbage must not stack up
    // hundreds of the same box.
    if (openTexts().contains(request.text)) {
        return;
    }
    openTexts().insert(request.text);
    const struct Closed {
        const QString& text;
        ~Closed() { openTexts().remove(text); }
    } closed{request.text};
    if (installedFunction()) {
        installedFunction()(request);
    } else {
        showModalBox(request);
    }
}

void showErrorBox(QWidget* owner, const QString& text) {
    showMessageBox({owner, QStringLiteral("Error"), text, MessageIcon::Error});
}

void routeProtocolMessagesToBoxes() {
    setMessageSink([](std::string_view text) {
        const QString message = qtText(text);
        QMetaObject::invokeMethod(
            qApp, [message] { showErrorBox(nullptr, message); }, Qt::QueuedConnection);
    });
}

MessageBoxFunction setMessageBoxFunction(MessageBoxFunction function) {
    return std::exchange(installedFunction(), std::move(function));
}

}  // namespace krt
