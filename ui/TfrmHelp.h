// The help file shown inside the program, for desktops where no web browser can be started. Links between
// its pages are followed in the same window; links to other sites are handed to the desktop.
#pragma once

#include <QtWidgets/QDialog>
#include <QtWidgets/QTextBrowser>

namespace imbrex::ui {

class TfrmHelp : public QDialog
{
    Q_OBJECT
public:
    TfrmHelp(QWidget *owner, const QString &helpFile);

    QTextBrowser *browser() const { return m_browser; }

private:
    QTextBrowser *m_browser;
};

} // namespace imbrex::ui
