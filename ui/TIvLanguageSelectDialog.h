// The interface-language dialog: the languages of the language list; OK or a double click chooses.
#pragma once

#include <QtWidgets/QDialog>
#include <QtWidgets/QListWidget>

#include "translate/LanguageList.h"

namespace imbrex::ui {

class TIvLanguageSelectDialog : public QDialog
{
    Q_OBJECT
public:
    TIvLanguageSelectDialog(QWidget *owner, const std::vector<translate::Language> &languages,
                            uint32_t currentLocale);
    // The position in the list of the chosen language, -1 when none is selected.
    int selectedIndex() const { return m_list->currentRow(); }

private:
    QListWidget *m_list;
};

} // namespace imbrex::ui
