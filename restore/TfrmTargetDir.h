// "Target Directory": chooses the directory that restored files go to, with the desktop's directory
// chooser. Tests and scripts install their own chooser.
#pragma once

#include <functional>
#include <optional>

#include <QtCore/QString>
#include <QtWidgets/QWidget>

namespace imbrex::ui {

// Asks for a directory starting at current; nullopt when the person cancelled.
using DirectoryChooser = std::function<std::optional<QString>(QWidget *owner, const QString &current)>;

class TfrmTargetDir
{
public:
    // chooser empty: the desktop's directory chooser, titled "Target Directory" (translated).
    explicit TfrmTargetDir(DirectoryChooser chooser = {}) : m_chooser(std::move(chooser)) {}
    std::optional<QString> choose(QWidget *owner, const QString &current) const;

private:
    DirectoryChooser m_chooser;
};

} // namespace imbrex::ui
