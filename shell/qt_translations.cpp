#include "qt_translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QRegularExpression>
#include <QTranslator>

namespace korinbo {

QString QtTranslationLocale(const QString& lc_all, const QString& lc_messages, const QString& lang) {
  QString name;
  for (const QString* variable : {&lc_all, &lc_messages, &lang}) {
    if (!variable->isEmpty()) {
      name = *variable;
      break;
    }
  }
  const qsizetype end = name.indexOf(QRegularExpression(QStringLiteral("[.@]")));
  if (end >= 0) name.truncate(end);
  if (name.isEmpty() || name == QStringLiteral("C") || name == QStringLiteral("POSIX")) {
    return QStringLiteral("ja");
  }
  return name;
}

QTranslator* LoadQtTranslations(QCoreApplication& app, const QString& locale) {
  auto* translator = new QTranslator(&app);
  if (!translator->load(QStringLiteral("qtbase_") + locale,
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    delete translator;
    return nullptr;
  }
  QCoreApplication::installTranslator(translator);
  return translator;
}

void InstallQtTranslations(QCoreApplication& app) {
  LoadQtTranslations(app,
                     QtTranslationLocale(qEnvironmentVariable("LC_ALL"), qEnvironmentVariable("LC_MESSAGES"),
                                         qEnvironmentVariable("LANG")));
}

}  // namespace korinbo
