// Rewrites the texts of a window and of every object inside it through Translate(): window titles, captions
// and texts of buttons, labels, group boxes and actions, menu titles, tool tips, header sections, the items
// of combo boxes and the tabs of tab bars. The native text of each property is remembered on the object the
// first time, so translating again, after the language changed, starts from the English text.
#pragma once

#include <QtWidgets/QWidget>

namespace imbrex::translate {

enum class TranslateTargets
{
    All,         // every text property listed above
    CaptionOnly, // window titles, captions and menu titles only
};

void translateWindow(QWidget *window, TranslateTargets targets = TranslateTargets::All);

// The text a property shows now, set from native through Translate() and remembered as native.
QString translatedText(QObject *object, const char *property, const QString &current);

} // namespace imbrex::translate
