// The About box: the product picture, the build and the program file's date and time.
#pragma once

#include <QtCore/QDateTime>
#include <QtWidgets/QDialog>

namespace imbrex::ui {

// The date and time of a file time as the FAT directory entry stores them: 2-second steps, years from 1980.
// The About box shows the program file's time in this form.
struct FatDateTime
{
    int year = 1980;
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
};
// The FAT form of a local time (years before 1980 become 1980, odd seconds round down).
FatDateTime toFatDateTime(const QDateTime &local);

class TfrmAbout : public QDialog
{
    Q_OBJECT
public:
    // programFile is the program whose date is shown; labels stay empty when it cannot be read.
    TfrmAbout(QWidget *owner, const QString &programFile);
};

} // namespace imbrex::ui
