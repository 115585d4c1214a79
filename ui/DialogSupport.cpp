#include "DialogSupport.h"

namespace imbrex::ui {

void centreOver(QWidget *window, const QWidget *owner)
{
    if (owner == nullptr)
        return;
    window->adjustSize();
    const QRect o = owner->frameGeometry();
    const QSize size = window->frameGeometry().size();
    window->move(o.left() + (o.width() - size.width()) / 2, o.top() + (o.height() - size.height()) / 2);
}

std::string toStoreText(const QString &text, size_t maxBytes)
{
    QByteArray utf8 = text.toUtf8();
    size_t n = static_cast<size_t>(utf8.size());
    if (n <= maxBytes)
        return std::string(utf8.constData(), n);
    n = maxBytes;
    while (n > 0 && (static_cast<unsigned char>(utf8[static_cast<qsizetype>(n)]) & 0xC0) == 0x80)
        --n; // do not cut a character in two
    return std::string(utf8.constData(), n);
}

QPushButton *makeResultButton(QDialog *dialog, const char *name, const QString &caption, int result)
{
    auto *button = new QPushButton(caption, dialog);
    button->setObjectName(QString::fromLatin1(name));
    QObject::connect(button, &QPushButton::clicked, dialog, [dialog, result] { dialog->done(result); });
    return button;
}

} // namespace imbrex::ui
