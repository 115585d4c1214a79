#include "TIvLanguageSelectDialog.h"

#include <QtWidgets/QHBoxLayout>
#include <QtWidgets/QVBoxLayout>

#include "DialogSupport.h"
#include "ModalResult.h"
#include "translate/WidgetTranslator.h"

namespace imbrex::ui {

TIvLanguageSelectDialog::TIvLanguageSelectDialog(QWidget *owner,
                                                 const std::vector<translate::Language> &languages,
                                                 uint32_t currentLocale)
    : QDialog(owner)
{
    setObjectName(QStringLiteral("TIvLanguageSelectDialog"));
    setWindowTitle(QStringLiteral("Language"));
    auto *outer = new QVBoxLayout(this);
    m_list = new QListWidget(this);
    m_list->setObjectName(QStringLiteral("lstLanguages"));
    for (const translate::Language &language : languages) {
        m_list->addItem(QString::fromStdString(language.name));
        if (language.localeId == currentLocale)
            m_list->setCurrentRow(m_list->count() - 1);
    }
    connect(m_list, &QListWidget::itemDoubleClicked, this, [this] { done(mrOk); });
    outer->addWidget(m_list);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    QPushButton *ok = makeResultButton(this, "btnOK", QStringLiteral("OK"), mrOk);
    ok->setDefault(true);
    buttons->addWidget(ok);
    buttons->addWidget(makeResultButton(this, "btnCancel", QStringLiteral("Cancel"), mrCancel));
    outer->addLayout(buttons);
    resize(260, 220);
    translate::translateWindow(this, translate::TranslateTargets::CaptionOnly);
    centreOver(this, owner);
}

} // namespace imbrex::ui
