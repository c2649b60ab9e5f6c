#include "Translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace corvalle {

namespace {

const QString kResourceFolder = QStringLiteral(":/i18n");

} // namespace

bool installTranslations(QCoreApplication& application, const QLocale& locale) {
    // Owned by the application, so they live as long as the texts they translate.
    auto* own = new QTranslator(&application);
    const bool found =
        own->load(locale, QStringLiteral("corvalle"), QStringLiteral("_"), kResourceFolder);
    if (!found) {
        // English carries the plural forms of the source texts.
        (void)own->load(QStringLiteral("corvalle_en"), kResourceFolder);
    }
    if (!own->isEmpty()) {
        QCoreApplication::installTranslator(own);
    }
    auto* qt = new QTranslator(&application);
    if (qt->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                 QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(qt);
    }
    return found;
}

} // namespace corvalle
