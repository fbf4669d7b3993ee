#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace krt {

enum class MessageIcon { Error, Exclamation };

struct MessageBoxRequest {
    QWidget* owner = nullptr;
    QString caption;
    QString text;
    MessageIcon icon = MessageIcon::Error;
};

// Shows a request; the default shows a modal box with an OK button and waits for it.
using MessageBoxFunction = std::function<void(const MessageBoxRequest&)>;

// Every message box of the program goes through here, so that tests can capture them.
void showMessageBox(const MessageBoxRequest& request);
// The usual failure report: caption "Error", the error icon, an OK button.
void showErrorBox(QWidget* owner, const QString& text);

// Shows the protocol layer's messages (from any thread) as error boxes on the GUI thread.
void routeProtocolMessagesToBoxes();

// Installs the function that shows message boxes and returns the previous one; an empty
// function restores the modal box.
MessageBoxFunction setMessageBoxFunction(MessageBoxFunction function);

}  // namespace krt
