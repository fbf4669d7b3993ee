#pragma once

#include <QDialog>

namespace krt {

// The notice shown while the login talks to the server. It has no buttons and cannot be
// dismissed by the user: its owner hides it when the conversation has ended.
class ConnectingNotice : public QDialog {
    Q_OBJECT

  public:
    explicit ConnectingNotice(QWidget* parent = nullptr);

    void reject() override;
};

}  // namespace krt
