// The progress of an index extension as a window: a TfrmProgress opened on the first report, titled
// "Extending the image index ...", whose Cancel gives the walk up. While it shows, its owner (the window
// that reads the partition) is disabled.
#pragma once

#include <memory>

#include <QtCore/QPointer>
#include <QtWidgets/QWidget>

#include "index/IndexCallbacks.h"
#include "ui/TfrmProgress.h"

namespace imbrex::ui {

class WindowIndexProgress final : public index::IndexProgress
{
public:
    // owner is disabled while the progress shows; the progress is centred over centreOn.
    WindowIndexProgress(QWidget *owner, QWidget *centreOn) : m_owner(owner), m_centreOn(centreOn) {}
    ~WindowIndexProgress() override;
    WindowIndexProgress(const WindowIndexProgress &) = delete;
    WindowIndexProgress &operator=(const WindowIndexProgress &) = delete;

    int ExtendIndexProgress(uint32_t start, uint32_t target, uint32_t current) override;
    void CloseIndexProgress() override;

    // The open progress window, for tests; nullptr when none is open.
    TfrmProgress *window() const { return m_window.get(); }

private:
    QPointer<QWidget> m_owner;
    QPointer<QWidget> m_centreOn;
    std::unique_ptr<TfrmProgress> m_window;
};

} // namespace imbrex::ui
