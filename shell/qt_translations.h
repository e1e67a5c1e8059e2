#pragma once
// Qt's own dialogs (file, font, the message boxes' buttons) in the user's language, which for this
// Japanese program is Japanese unless the system names another one.
#include <QString>

class QCoreApplication;
class QTranslator;

namespace korinbo {

// The locale whose catalogue Qt's texts come from, from the locale variables in the C library's
// order of precedence: the first of LC_ALL, LC_MESSAGES and LANG that is set names it, without its
// codeset and modifier ("de_DE.UTF-8@euro" gives "de_DE"). None set, "C" and "POSIX" give "ja".
QString QtTranslationLocale(const QString& lc_all, const QString& lc_messages, const QString& lang);

// Installs Qt's "qtbase" catalogue for the locale (falling back from "ja_JP" to "ja") into the
// application, which owns it. nullptr when there is no such catalogue.
QTranslator* LoadQtTranslations(QCoreApplication& app, const QString& locale);

// The two above with the process's environment.
void InstallQtTranslations(QCoreApplication& app);

}  // namespace korinbo
