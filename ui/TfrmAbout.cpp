#include "TfrmAbout.h"

#include <QtCore/QFileInfo>
#include <QtCore/QLocale>
#include <QtWidgets/QHBoxLayout>
#include <QtWidgets/QLabel>
#include <QtWidgets/QVBoxLayout>

#include "DialogSupport.h"
#include "ModalResult.h"
#include "TfrmSplash.h"
#include "store/MessageText.h"
#include "translate/Translate.h"
#include "translate/WidgetTranslator.h"

namespace imbrex::ui {

FatDateTime toFatDateTime(const QDateTime &local)
{
    FatDateTime t;
    const QDate d = local.date();
    const QTime time = local.time();
    if (d.year() < 1980)
        return t;
    t.year = d.year() > 2107 ? 2107 : d.year();
    t.month = d.month();
    t.day = d.day();
    t.hour = time.hour();
    t.minute = time.minute();
    t.second = time.second() / 2 * 2;
    return t;
}

TfrmAbout::TfrmAbout(QWidget *owner, const QString &programFile) : QDialog(owner)
{
    setObjectName(QStringLiteral("TfrmAbout"));
    setWindowTitle(QStringLiteral("About"));
    auto *outer = new QVBoxLayout(this);
    auto *picture = new QLabel(this);
    picture->setObjectName(QStringLiteral("imgAbout"));
    picture->setPixmap(productPicture());
    outer->addWidget(picture);
    auto *product = new QLabel(
        QString::fromStdString(store::translatedMessage("Imbrex File Editor 3.01 Build %s", {"Fenlow.064"})),
        this);
    product->setObjectName(QStringLiteral("lblProduct"));
    product->setProperty("imbrexValue", true);
    outer->addWidget(product);
    QString dateText;
    QString timeText;
    QFileInfo info(programFile);
    if (!programFile.isEmpty() && info.exists() && info.isReadable()) {
        const FatDateTime t = toFatDateTime(info.lastModified());
        const QLocale locale = QLocale::system();
        dateText = QString::fromStdString(Translate("Executable date:")) + QLatin1Char(' ') +
                   locale.toString(QDate(t.year, t.month, t.day), QLocale::ShortFormat);
        timeText = QString::fromStdString(Translate("Executable time:")) + QLatin1Char(' ') +
                   locale.toString(QTime(t.hour, t.minute, t.second), QStringLiteral("HH:mm:ss"));
    }
    auto *date = new QLabel(dateText, this);
    date->setObjectName(QStringLiteral("lblDate"));
    date->setProperty("imbrexValue", true);
    auto *time = new QLabel(timeText, this);
    time->setObjectName(QStringLiteral("lblTime"));
    time->setProperty("imbrexValue", true);
    outer->addWidget(date);
    outer->addWidget(time);
    addCentredOkButton(this, outer, QStringLiteral("OK"));
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    translate::translateWindow(this);
    centreOver(this, owner);
}

} // namespace imbrex::ui
