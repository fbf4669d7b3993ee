#include "app/ui/about_page.h"

#include <QLabel>
#include <QVBoxLayout>

#include "login/login_sequence.h"

namespace krt {

AboutPage::AboutPage(QWidget* parent)
    : QWidget(parent),
      m_product(new QLabel(this)),
      m_vendor(new QLabel(this)),
      m_strVendor(QStringLiteral("KRT client for Linux, by the KRT team")) {
    m_product->setObjectName(QStringLiteral("product"));
    m_vendor->setObjectName(QStringLiteral("vendor"));
    m_product->setText(QStringLiteral("Tessaline Client \n\n") +
                       QLatin1String(kClientProtocolVersion));
    m_product->setAlignment(Qt::AlignCenter);
    m_vendor->setAlignment(Qt::AlignCenter);
    m_vendor->setWordWrap(true);
    m_vendor->setText(m_strVendor);

    auto* layout = new QVBoxLayout(this);
    layout->addStretch();
    layout->addWidget(m_product);
    layout->addSpacing(fontMetrics().height());
    layout->addWidget(m_vendor);
    layout->addStretch();
}

QString AboutPage::productText() const {
    return m_product->text();
}
QString AboutPage::vendorText() const {
    return m_vendor->text();
}

}  // namespace krt
