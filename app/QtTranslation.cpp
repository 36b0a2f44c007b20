#include "app/QtTranslation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

bool QtTranslation::install(QCoreApplication *application)
{
    // The texts Qt takes from the default locale's language, such as the file types the file
    // dialog names, follow the window too. Dates and sizes there follow the desktop's own
    // settings, as the user set them.
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
    auto *translator = new QTranslator(application);
    // Named in full, so the desktop's language cannot pick another catalogue.
    if (!translator->load(QStringLiteral("qtbase_zh_CN"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
        !QCoreApplication::installTranslator(translator)) {
        delete translator;
        return false;
    }
    return true;
}
