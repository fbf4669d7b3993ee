#pragma once

#include <QWidget>

class QLabel;

namespace krt {

// The About tab: the product, the protocol version and the vendor line.
class AboutPage : public QWidget {
    Q_OBJECT

  public:
    explicit AboutPage(QWidget* parent = nullptr);

    QString productText() const;
    QString vendorText() const;

  private:
    QLabel* m_product;
    QLabel* m_vendor;
    QString m_strVendor;
};

}  // namespace krt
