#pragma once

#include <QLocale>

class QCoreApplication;

namespace corvalle {

// Installs the interface's translation for `locale` (the embedded
// corvalle_<language>.qm) and Qt's own for its dialogs and messages where the
// system has them. Where there is none for the language the English texts stay,
// with their plural forms. Returns whether a translation of Corvalle's own texts
// was found for the locale's languages.
bool installTranslations(QCoreApplication& application, const QLocale& locale);

} // namespace corvalle
