#include "app/ui/message_box.h"

#include <QMessageBox>

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
    box.exec();
}

}  // namespace

void showMessageBox(const MessageBoxRequest& request) {
    if (installedFunction()) {
        installedFunction()(request);
    } else {
        showModalBox(request);
    }
}

void showErrorBox(QWidget* owner, const QString& text) {
    showMessageBox({owner, QStringLiteral("Error"), text, MessageIcon::Error});
}

MessageBoxFunction setMessageBoxFunction(MessageBoxFunction function) {
    return std::exchange(installedFunction(), std::move(function));
}

}  // namespace krt
