// The dialogs that change one text (image name and comment, partition name and comment): the current value
// read-only above, the new value below, OK and Cancel.
#pragma once

#include <QtWidgets/QDialog>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QPlainTextEdit>

namespace imbrex::ui {

struct TextChangeDialogLayout
{
    const char *windowName;
    const char *caption;
    const char *currentName;
    const char *currentLabel;
    const char *newName;
    const char *newLabel;
    bool multiLine = false;
    int maxLength = 0; // 0: no limit in the control
};

class TextChangeDialog : public QDialog
{
    Q_OBJECT
public:
    TextChangeDialog(QWidget *owner, const TextChangeDialogLayout &layout, const QString &current);

    QString newText() const;
    void setNewText(const QString &text);

private:
    QLineEdit *m_currentLine = nullptr;
    QLineEdit *m_newLine = nullptr;
    QPlainTextEdit *m_currentMemo = nullptr;
    QPlainTextEdit *m_newMemo = nullptr;
};

class TfrmImageName : public TextChangeDialog
{
    Q_OBJECT
public:
    TfrmImageName(QWidget *owner, const QString &current);
};

class TfrmImageComment : public TextChangeDialog
{
    Q_OBJECT
public:
    TfrmImageComment(QWidget *owner, const QString &current);
};

class TfrmPartitionName : public TextChangeDialog
{
    Q_OBJECT
public:
    TfrmPartitionName(QWidget *owner, const QString &current);
};

class TfrmPartitionComment : public TextChangeDialog
{
    Q_OBJECT
public:
    TfrmPartitionComment(QWidget *owner, const QString &current);
};

} // namespace imbrex::ui
