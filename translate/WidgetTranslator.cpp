#include "WidgetTranslator.h"

#include <QtGui/QAction>
#include <QtGui/QStandardItemModel>
#include <QtWidgets/QAbstractButton>
#include <QtWidgets/QComboBox>
#include <QtWidgets/QGroupBox>
#include <QtWidgets/QHeaderView>
#include <QtWidgets/QLabel>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QMenu>
#include <QtWidgets/QTabBar>

#include "Translate.h"

namespace imbrex::translate {

namespace {

QString lookUp(const QString &native)
{
    if (native.isEmpty())
        return native;
    QByteArray utf8 = native.toUtf8();
    return QString::fromStdString(
        Translate(std::string_view(utf8.constData(), static_cast<size_t>(utf8.size()))));
}

QString nativeOf(QObject *object, const QByteArray &key, const QString &current)
{
    QVariant stored = object->property(key.constData());
    if (stored.isValid())
        return stored.toString();
    object->setProperty(key.constData(), current);
    return current;
}

void translateHeader(QHeaderView *header)
{
    QAbstractItemModel *model = header->model();
    if (model == nullptr)
        return;
    int count = header->orientation() == Qt::Horizontal ? model->columnCount() : model->rowCount();
    for (int i = 0; i < count; ++i) {
        QByteArray key = "imbrexNativeSection" + QByteArray::number(i);
        QString current = model->headerData(i, header->orientation()).toString();
        model->setHeaderData(i, header->orientation(), lookUp(nativeOf(header, key, current)));
    }
}

} // namespace

QString translatedText(QObject *object, const char *property, const QString &current)
{
    QByteArray key = QByteArray("imbrexNative_") + property;
    return lookUp(nativeOf(object, key, current));
}

void translateWindow(QWidget *window, TranslateTargets targets)
{
    if (window == nullptr)
        return;
    const bool all = targets == TranslateTargets::All;
    QList<QObject *> objects = window->findChildren<QObject *>();
    objects.prepend(window);
    for (QObject *object : objects) {
        if (auto *widget = qobject_cast<QWidget *>(object)) {
            if (widget->isWindow() && !widget->windowTitle().isEmpty() &&
                !widget->property("imbrexValue").toBool())
                widget->setWindowTitle(translatedText(widget, "windowTitle", widget->windowTitle()));
            if (all && !widget->toolTip().isEmpty())
                widget->setToolTip(translatedText(widget, "toolTip", widget->toolTip()));
        }
        if (auto *action = qobject_cast<QAction *>(object)) {
            // A menu's own action carries the menu's title, which the menu itself translates.
            if (action->menu() == nullptr && !action->isSeparator() && !action->text().isEmpty())
                action->setText(translatedText(action, "text", action->text()));
            if (all && !action->toolTip().isEmpty() && action->property("imbrexNative_text").isValid() &&
                action->toolTip() != action->text())
                action->setToolTip(translatedText(action, "toolTip", action->toolTip()));
        } else if (auto *menu = qobject_cast<QMenu *>(object)) {
            if (!menu->title().isEmpty())
                menu->setTitle(translatedText(menu, "title", menu->title()));
        } else if (auto *button = qobject_cast<QAbstractButton *>(object)) {
            if (!button->text().isEmpty())
                button->setText(translatedText(button, "text", button->text()));
        } else if (auto *label = qobject_cast<QLabel *>(object)) {
            // Labels whose text the program fills in (values, names) are marked untranslatable.
            if (!label->text().isEmpty() && !label->property("imbrexValue").toBool())
                label->setText(translatedText(label, "text", label->text()));
        } else if (auto *group = qobject_cast<QGroupBox *>(object)) {
            if (!group->title().isEmpty())
                group->setTitle(translatedText(group, "title", group->title()));
        } else if (all) {
            if (auto *header = qobject_cast<QHeaderView *>(object)) {
                translateHeader(header);
            } else if (auto *combo = qobject_cast<QComboBox *>(object)) {
                for (int i = 0; i < combo->count(); ++i) {
                    QByteArray key = "imbrexNativeItem" + QByteArray::number(i);
                    combo->setItemText(i, lookUp(nativeOf(combo, key, combo->itemText(i))));
                }
            } else if (auto *tabs = qobject_cast<QTabBar *>(object)) {
                for (int i = 0; i < tabs->count(); ++i) {
                    QByteArray key = "imbrexNativeTab" + QByteArray::number(i);
                    tabs->setTabText(i, lookUp(nativeOf(tabs, key, tabs->tabText(i))));
                }
            } else if (auto *edit = qobject_cast<QLineEdit *>(object)) {
                if (!edit->placeholderText().isEmpty())
                    edit->setPlaceholderText(
                        translatedText(edit, "placeholderText", edit->placeholderText()));
            }
        }
    }
}

} // namespace imbrex::translate
