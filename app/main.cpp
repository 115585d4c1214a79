// The editor's start: one instance per user, the splash picture, the interface language, the main window,
// and the image named on the command line.
#include <clocale>
#include <cstdio>
#include <cstring>

#include <QtCore/QDir>
#include <QtCore/QLocale>
#include <QtWidgets/QApplication>

#include "SingleInstance.h"
#include "platform/LocaleFormat.h"
#include "translate/Translate.h"
#include "ui/Glyphs.h"
#include "ui/ProgramFiles.h"
#include "ui/TfrmMain.h"
#include "ui/TfrmSplash.h"

namespace {

// The command line after the program name, taken as one path, without the '"' characters around it.
QString commandLineImage(const QStringList &arguments)
{
    QString path = arguments.mid(1).join(QLatin1Char(' '));
    while (path.startsWith(QLatin1Char('"')))
        path.remove(0, 1);
    while (path.endsWith(QLatin1Char('"')))
        path.chop(1);
    return path;
}

void installLocaleFormats()
{
    imbrex::platform::LocaleFormatter formatter;
    formatter.groupedNumber = [](int64_t value) {
        return QLocale::system().toString(static_cast<qlonglong>(value)).toStdString();
    };
    formatter.shortDate = [](int year, int month, int day) {
        return QLocale::system().toString(QDate(year, month, day), QLocale::ShortFormat).toStdString();
    };
    imbrex::platform::setLocaleFormatter(std::move(formatter));
}

// The language whose primary language is the system's, when the list offers one.
void selectSystemLanguage(imbrex::translate::InterfaceLanguage &language)
{
    // Primary language ids of the locale ids the language list uses.
    const struct
    {
        uint32_t primary;
        const char *code;
    } known[] = {{0x07, "de"}, {0x09, "en"}, {0x0A, "es"}, {0x0C, "fr"}, {0x10, "it"}, {0x16, "pt"}};
    const QString system = QLocale::system().name().section(QLatin1Char('_'), 0, 0);
    for (size_t i = 0; i < language.languages().size(); ++i) {
        const uint32_t primary = imbrex::translate::primaryLanguage(language.languages()[i].localeId);
        for (const auto &k : known)
            if (k.primary == primary && system == QLatin1String(k.code)) {
                (void)language.selectLanguage(static_cast<int>(i));
                return;
            }
    }
}

} // namespace

int main(int argc, char *argv[])
{
    // Answered before any window exists, so that it works without a display.
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("imbrex-file-editor %s\n", IMBREX_VERSION);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        std::printf(
            "Usage: imbrex-file-editor [IMAGE]\nOpens the editor's window, showing IMAGE (a .zbi file) "
            "or the most recent image.\n");
        return 0;
    }
    QApplication application(argc, argv);
    std::setlocale(LC_ALL, "");
    QApplication::setApplicationName(QStringLiteral("Imbrex File Editor"));
    QApplication::setWindowIcon(imbrex::ui::programIcon());
    // Lets the desktop match the window with its .desktop entry (icon and name in the taskbar).
    QGuiApplication::setDesktopFileName(QStringLiteral("imbrex-file-editor"));

    imbrex::app::SingleInstance instance;
    if (instance.raiseRunningInstance())
        return 0;

    {
        imbrex::ui::TfrmSplash splash;
        splash.exec();
    }

    installLocaleFormats();
    const QDir programDir(imbrex::ui::dataDirectory(QApplication::applicationDirPath()));
    imbrex::translate::InterfaceLanguage language;
    const bool languageOpen = language
                                  .open(programDir.filePath(QStringLiteral("translat.txt")).toStdString(),
                                        programDir.filePath(QStringLiteral("language.txt")).toStdString())
                                  .ok();
    if (languageOpen) {
        imbrex::setTranslator(
            [&language](std::string_view text) { return language.dictionary().translateText(text); });
        selectSystemLanguage(language);
    }

    imbrex::ui::MainWindowOptions options;
    options.language = languageOpen ? &language : nullptr;
    options.programDir = programDir.path();
    imbrex::ui::TfrmMain window(std::move(options));
    window.setCommandLineImage(commandLineImage(QApplication::arguments()));
    instance.listen([&window] {
        window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
        window.show();
        window.raise();
        window.activateWindow();
    });
    window.show();
    const int result = QApplication::exec();
    imbrex::setTranslator({});
    return result;
}
