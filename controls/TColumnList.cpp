#include "TColumnList.h"

#include <QtGui/QPainter>
#include <QtWidgets/QApplication>
#include <QtWidgets/QStyledItemDelegate>

namespace imbrex::controls {

namespace {

constexpr int kValueRole = Qt::UserRole + 1;

class ColumnDelegate : public QStyledItemDelegate
{
public:
    explicit ColumnDelegate(TColumnList *list) : QStyledItemDelegate(list), m_list(list) {}

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        m_list->DrawItem(painter, index.row(), option.rect, option);
    }

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        return {QStyledItemDelegate::sizeHint(option, index).width(), m_list->ItemHeight()};
    }

private:
    TColumnList *m_list;
};

} // namespace

std::vector<ColumnBox> columnLayout(const std::array<int, kColumnCount> &positions,
                                    const std::array<TColListAlign, kColumnCount> &aligns, int width)
{
    std::vector<ColumnBox> boxes;
    for (int i = 1; i <= kColumnCount; ++i) {
        int p = positions[static_cast<size_t>(i - 1)];
        int next = i < kColumnCount ? positions[static_cast<size_t>(i)] : -1;
        if (p == -1 && !(i < kColumnCount && next != -1))
            continue;
        std::optional<int> right;
        if (i == kColumnCount || next == -1) {
            if (width > p)
                right = width;
        } else if (p < width) {
            right = next - 1;
        }
        if (!right)
            continue;
        ColumnBox box;
        box.column = i;
        box.left = p + 1;
        box.right = *right;
        box.rightAligned = aligns[static_cast<size_t>(i - 1)] == TColListAlign::claRight;
        box.textX = box.rightAligned ? *right - 3 : p + 7;
        boxes.push_back(box);
    }
    return boxes;
}

TColumnList::TColumnList(QWidget *parent) : QListWidget(parent)
{
    m_positions.fill(-1);
    m_aligns.fill(TColListAlign::claLeft);
    m_disabledColor = palette().color(QPalette::WindowText);
    setItemDelegate(new ColumnDelegate(this));
    setUniformItemSizes(true);
}

int TColumnList::Add(const QString &text, std::optional<int> value)
{
    Insert(count(), text, value);
    return count() - 1;
}

void TColumnList::Insert(int index, const QString &text, std::optional<int> value)
{
    auto *item = new QListWidgetItem(text);
    if (value)
        item->setData(kValueRole, *value);
    insertItem(index, item);
}

int TColumnList::GetVal(int index) const
{
    if (index == kCurrentItem)
        index = currentRow();
    const QListWidgetItem *line = index >= 0 ? item(index) : nullptr;
    if (line == nullptr)
        return -1;
    QVariant value = line->data(kValueRole);
    return value.isValid() ? value.toInt() : -1;
}

QString TColumnList::GetStr(int index) const
{
    if (index == kCurrentItem)
        index = currentRow();
    const QListWidgetItem *line = index >= 0 ? item(index) : nullptr;
    return line ? line->text() : QString();
}

bool TColumnList::LineEnabled(int index) const
{
    const QListWidgetItem *line = index >= 0 ? item(index) : nullptr;
    if (line == nullptr)
        return true;
    QVariant value = line->data(kValueRole);
    return !value.isValid() || value.toInt() != 0;
}

QString TColumnList::GetColStringFromStr(const QString &text, int n)
{
    QString rest = text;
    if (!rest.endsWith(QLatin1Char('|')))
        rest += QLatin1Char('|');
    QString column;
    for (int i = 1; i <= n; ++i) {
        if (rest.isEmpty())
            return {};
        if (i > 1 && rest.startsWith(QLatin1Char('|')))
            rest.remove(0, 1);
        if (rest.isEmpty())
            return {};
        qsizetype bar = rest.indexOf(QLatin1Char('|'));
        column = rest.left(bar);
        rest.remove(0, bar);
    }
    return n >= 1 ? column : QString();
}

void TColumnList::SetColPosition(int column, int x)
{
    if (column < 1 || column > kColumnCount)
        return;
    m_positions[static_cast<size_t>(column - 1)] = x;
    viewport()->update();
}

void TColumnList::SetColAlign(int column, TColListAlign align)
{
    if (column < 1 || column > kColumnCount)
        return;
    m_aligns[static_cast<size_t>(column - 1)] = align;
    viewport()->update();
}

void TColumnList::SetShowColLines(bool show)
{
    m_showColLines = show;
    viewport()->update();
}

void TColumnList::SetClipTextToCols(bool clip)
{
    m_clipTextToCols = clip;
    viewport()->update();
}

void TColumnList::SetAllowDisabledLines(bool allow)
{
    m_allowDisabledLines = allow;
    viewport()->update();
}

void TColumnList::SetDisabledColor(const QColor &color)
{
    m_disabledColor = color;
    viewport()->update();
}

void TColumnList::SetItemHeight(int height)
{
    m_itemHeight = height;
    doItemsLayout();
}

void TColumnList::startDrag(Qt::DropActions supportedActions)
{
    QListWidget::startDrag(supportedActions); // returns when the drag is over
    if (m_onEndDrag)
        m_onEndDrag(this);
}

void TColumnList::DrawItem(QPainter *painter, int index, const QRect &rect,
                           const QStyleOptionViewItem &option)
{
    if (m_onPreDrawItem)
        m_onPreDrawItem(this, index, painter, rect, option);
    painter->save();
    const bool selected = option.state & QStyle::State_Selected;
    const QPalette::ColorGroup group =
        option.state & QStyle::State_Enabled ? QPalette::Normal : QPalette::Disabled;
    painter->fillRect(rect, option.palette.brush(group, selected ? QPalette::Highlight : QPalette::Base));
    QColor textColor = option.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text);
    if (!LineEnabled(index) && m_allowDisabledLines)
        textColor = m_disabledColor;
    painter->setPen(textColor);
    painter->setFont(option.font);
    const QFontMetrics metrics(option.font);
    const int textHeight = metrics.boundingRect(QStringLiteral("abcghi")).height();
    const int y = rect.top() + (rect.height() - textHeight) / 2;
    const QString line = GetStr(index);
    for (const ColumnBox &box : columnLayout(m_positions, m_aligns, viewport()->width())) {
        if (m_showColLines)
            painter->drawLine(box.left - 1, rect.top(), box.left - 1, rect.bottom());
        const QString text = GetColStringFromStr(line, box.column);
        const QRect columnRect(QPoint(box.left, rect.top()), QPoint(box.right - 1, rect.bottom()));
        if (m_clipTextToCols)
            painter->setClipRect(columnRect);
        const int width = metrics.horizontalAdvance(text);
        const int x = box.rightAligned ? box.textX - width : box.textX;
        painter->drawText(QPoint(x, y + metrics.ascent()), text);
        if (m_clipTextToCols)
            painter->setClipping(false);
    }
    painter->restore();
    if (option.state & QStyle::State_HasFocus) {
        QStyleOptionFocusRect focus;
        focus.rect = rect;
        focus.state = option.state;
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter, this);
    }
    if (m_onDrawItem)
        m_onDrawItem(this, index, painter, rect, option);
}

} // namespace imbrex::controls
