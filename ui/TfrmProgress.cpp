#include "TfrmProgress.h"

#include <QtCore/QCoreApplication>
#include <QtGui/QCloseEvent>
#include <QtGui/QGuiApplication>
#include <QtGui/QScreen>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QVBoxLayout>

#include "DialogSupport.h"
#include "translate/WidgetTranslator.h"

namespace imbrex::ui {

TfrmProgress::TfrmProgress(QWidget *owner, int32_t steps)
    : QDialog(owner, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint), m_progress(steps),
      m_owner(owner)
{
    setObjectName(QStringLiteral("TfrmProgress"));
    setWindowTitle(QStringLiteral("Progress"));
    auto *outer = new QVBoxLayout(this);
    QVBoxLayout *inner = addRaisedPanel(this, outer);
    m_action = new QLabel(QStringLiteral("Action..."));
    m_action->setObjectName(QStringLiteral("lblAction"));
    m_action->setProperty("imbrexValue", true);
    m_action->setMinimumWidth(320);
    m_bar = new QProgressBar;
    m_bar->setObjectName(QStringLiteral("prgBar"));
    m_bar->setRange(0, 100);
    m_bar->setValue(0);
    m_bar->setTextVisible(false);
    m_percent = new QLabel(QStringLiteral("0%"));
    m_percent->setObjectName(QStringLiteral("lblPercent"));
    m_percent->setProperty("imbrexValue", true);
    m_percent->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    auto *cancel = new QPushButton(QStringLiteral("&Cancel"));
    cancel->setObjectName(QStringLiteral("btnCancel"));
    cancel->setCursor(Qt::ArrowCursor);
    connect(cancel, &QPushButton::clicked, this, [this] { m_cancelled = true; });
    inner->addWidget(m_action);
    inner->addWidget(m_bar);
    inner->addWidget(m_percent);
    inner->addWidget(cancel, 0, Qt::AlignHCenter);
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    translate::translateWindow(this);
    adjustSize();
    if (QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect s = screen->geometry();
        move(s.left() + (s.width() - width()) / 2, s.top() + (s.height() - height()) / 2);
    }
    if (m_owner)
        m_owner->setEnabled(false);
    setEnabled(true);
}

TfrmProgress::~TfrmProgress()
{
    if (m_owner)
        m_owner->setEnabled(true);
}

void TfrmProgress::closeEvent(QCloseEvent *event)
{
    event->ignore();
}

void TfrmProgress::SetStep(int32_t step)
{
    m_progress.SetStep(step);
}

void TfrmProgress::SetPercent(int32_t percent)
{
    m_progress.SetPercent(percent);
    int32_t overall = m_progress.OverallPercent();
    if (overall > 100)
        overall = 100;
    if (overall < 0)
        overall = 0;
    m_bar->setValue(overall);
    m_percent->setText(QString::number(overall) + QLatin1Char('%'));
    QCoreApplication::processEvents();
}

void TfrmProgress::SetAction(const QString &text)
{
    m_progress.SetAction(text.toStdString());
    m_action->setText(text);
    QCoreApplication::processEvents();
}

void WindowProgress::setAction(const std::string &text)
{
    m_window.SetAction(QString::fromStdString(text));
}

bool WindowProgress::update(uint64_t done, uint64_t total)
{
    const uint64_t percent = total == 0 ? 100 : (done >= total ? 100 : done * 100 / total);
    m_window.SetPercent(static_cast<int32_t>(percent));
    return !m_window.cancelled();
}

} // namespace imbrex::ui
