// A list whose lines are shown as columns at fixed pixel positions. Each line is a text with its columns
// separated by '|' (a trailing '|' is optional) and an optional integer value; a line whose value is 0 is
// disabled and can be drawn in DisabledColor.
#pragma once

#include <array>
#include <functional>
#include <optional>
#include <vector>

#include <QtGui/QColor>
#include <QtWidgets/QListWidget>
#include <QtWidgets/QStyleOptionViewItem>

namespace imbrex::controls {

enum class TColListAlign
{
    claLeft,
    claRight,
};

inline constexpr int kColumnCount = 9;

// Where the text of one column is drawn.
struct ColumnBox
{
    int column = 0; // 1..9
    int left = 0;   // the column box: left .. right, exclusive of the line at the column's edge
    int right = 0;
    int textX = 0; // left edge of left-aligned text, right edge of right-aligned text
    bool rightAligned = false;
};

// The boxes of the columns that are drawn for a control of the given width: column i starts at positions[i]
// (-1 = unused) and ends one pixel before the next used position, or at the control's edge.
std::vector<ColumnBox> columnLayout(const std::array<int, kColumnCount> &positions,
                                    const std::array<TColListAlign, kColumnCount> &aligns, int width);

class TColumnList : public QListWidget
{
    Q_OBJECT
public:
    // Called before (pre) and after the built-in drawing of a line.
    using DrawItemEvent = std::function<void(TColumnList *, int index, QPainter *, const QRect &,
                                             const QStyleOptionViewItem &)>;
    // Called when a drag that started in the list has ended, dropped or not.
    using EndDragEvent = std::function<void(TColumnList *)>;

    explicit TColumnList(QWidget *parent = nullptr);

    int Add(const QString &text, std::optional<int> value = std::nullopt);
    void Insert(int index, const QString &text, std::optional<int> value = std::nullopt);

    static constexpr int kCurrentItem = -10;
    // The line's value; -1 when out of range or the line has none. kCurrentItem means the current line.
    int GetVal(int index) const;
    // The line's text; empty when out of range. kCurrentItem means the current line.
    QString GetStr(int index) const;
    // False only for a line whose value is 0.
    bool LineEnabled(int index) const;
    // Column n (from 1) of a line text: "a||b" has the columns a, empty and b; column 4 is empty.
    static QString GetColStringFromStr(const QString &text, int n);

    int ColPosition(int column) const { return m_positions[static_cast<size_t>(column - 1)]; }
    void SetColPosition(int column, int x);
    TColListAlign ColAlign(int column) const { return m_aligns[static_cast<size_t>(column - 1)]; }
    void SetColAlign(int column, TColListAlign align);
    bool ShowColLines() const { return m_showColLines; }
    void SetShowColLines(bool show);
    bool ClipTextToCols() const { return m_clipTextToCols; }
    void SetClipTextToCols(bool clip);
    bool AllowDisabledLines() const { return m_allowDisabledLines; }
    void SetAllowDisabledLines(bool allow);
    QColor DisabledColor() const { return m_disabledColor; }
    void SetDisabledColor(const QColor &color);
    void SetOnPreDrawItem(DrawItemEvent event) { m_onPreDrawItem = std::move(event); }
    void SetOnDrawItem(DrawItemEvent event) { m_onDrawItem = std::move(event); }
    void SetOnEndDrag(EndDragEvent event) { m_onEndDrag = std::move(event); }
    // Fixed line height in pixels.
    void SetItemHeight(int height);
    int ItemHeight() const { return m_itemHeight; }

    // Draws line index into rect: the fill, the columns, then the OnDrawItem event.
    void DrawItem(QPainter *painter, int index, const QRect &rect, const QStyleOptionViewItem &option);

protected:
    void startDrag(Qt::DropActions supportedActions) override;

private:
    std::array<int, kColumnCount> m_positions;
    std::array<TColListAlign, kColumnCount> m_aligns;
    bool m_showColLines = false;
    bool m_clipTextToCols = false;
    bool m_allowDisabledLines = false;
    QColor m_disabledColor;
    int m_itemHeight = 16;
    DrawItemEvent m_onPreDrawItem;
    DrawItemEvent m_onDrawItem;
    EndDragEvent m_onEndDrag;
};

} // namespace imbrex::controls
