#include "DialogSupport.h"

#include <QtWidgets/QFrame>

#include "ModalResult.h"

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

QLabel *makeValueLabel(QWidget *parent, const char *name)
{
    auto *label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setProperty("imbrexValue", true);
    label->setTextFormat(Qt::PlainText);
    return label;
}

QPushButton *makeResultButton(QDialog *dialog, const char *name, const QString &caption, int result)
{
    auto *button = new QPushButton(caption, dialog);
    button->setObjectName(QString::fromLatin1(name));
    QObject::connect(button, &QPushButton::clicked, dialog, [dialog, result] { dialog->done(result); });
    return button;
}

QVBoxLayout *addRaisedPanel(QDialog *dialog, QVBoxLayout *outer)
{
    auto *panel = new QFrame(dialog);
    panel->setObjectName(QStringLiteral("pnlMain"));
    panel->setFrameShape(QFrame::Panel);
    panel->setFrameShadow(QFrame::Raised);
    outer->addWidget(panel);
    return new QVBoxLayout(panel);
}

void addCentredOkButton(QDialog *dialog, QVBoxLayout *outer, const QString &caption)
{
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    QPushButton *ok = makeResultButton(dialog, "btnOK", caption, mrOk);
    ok->setDefault(true);
    buttons->addWidget(ok);
    buttons->addStretch();
    outer->addLayout(buttons);
}

} // namespace imbrex::ui
