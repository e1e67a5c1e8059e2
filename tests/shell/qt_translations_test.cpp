// Qt's own texts in the user's language: which catalogue the locale variables choose, and that
// the Japanese one reaches Qt's dialogs.
#include <QDialogButtonBox>
#include <QPushButton>
#include <QTranslator>
#include <QtTest>

#include "qt_translations.h"

namespace korinbo {
namespace {

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

}  // namespace

class QtTranslationsTest : public QObject {
  Q_OBJECT

 private slots:
  void LocaleVariablesChooseTheCatalogue_data() {
    QTest::addColumn<QString>("lc_all");
    QTest::addColumn<QString>("lc_messages");
    QTest::addColumn<QString>("lang");
    QTest::addColumn<QString>("locale");
    QTest::newRow("nothing set") << QString() << QString() << QString() << U("ja");
    QTest::newRow("C") << QString() << QString() << U("C") << U("ja");
    QTest::newRow("C.UTF-8") << QString() << QString() << U("C.UTF-8") << U("ja");
    QTest::newRow("POSIX") << U("POSIX") << QString() << U("de_DE.UTF-8") << U("ja");
    QTest::newRow("Japanese") << QString() << QString() << U("ja_JP.UTF-8") << U("ja_JP");
    QTest::newRow("Japanese EUC") << QString() << QString() << U("ja_JP.eucJP") << U("ja_JP");
    QTest::newRow("other language") << QString() << QString() << U("de_DE.UTF-8@euro") << U("de_DE");
    QTest::newRow("LC_MESSAGES over LANG") << QString() << U("fr_FR.UTF-8") << U("ja_JP.UTF-8") << U("fr_FR");
    QTest::newRow("LC_ALL over both") << U("ja_JP.UTF-8") << U("fr_FR.UTF-8") << U("de_DE") << U("ja_JP");
    QTest::newRow("C in LC_MESSAGES") << QString() << U("C") << U("de_DE.UTF-8") << U("ja");
  }
  void LocaleVariablesChooseTheCatalogue() {
    QFETCH(QString, lc_all);
    QFETCH(QString, lc_messages);
    QFETCH(QString, lang);
    QFETCH(QString, locale);
    QCOMPARE(QtTranslationLocale(lc_all, lc_messages, lang), locale);
  }

  void JapaneseReachesQtsButtons() {
    QDialogButtonBox before(QDialogButtonBox::Cancel);
    const QString english = before.button(QDialogButtonBox::Cancel)->text();
    QTranslator* translator = LoadQtTranslations(*QCoreApplication::instance(), QStringLiteral("ja_JP"));
    QVERIFY(translator != nullptr);
    QDialogButtonBox box(QDialogButtonBox::Cancel | QDialogButtonBox::Open);
    QCOMPARE(box.button(QDialogButtonBox::Cancel)->text(), U("キャンセル"));
    QVERIFY(box.button(QDialogButtonBox::Cancel)->text() != english);
    QCoreApplication::removeTranslator(translator);
    delete translator;
  }

  void ALanguageWithoutACatalogueLoadsNothing() {
    QDialogButtonBox before(QDialogButtonBox::Cancel);
    QCOMPARE(LoadQtTranslations(*QCoreApplication::instance(), QStringLiteral("xx_YY")),
             static_cast<QTranslator*>(nullptr));
    QDialogButtonBox box(QDialogButtonBox::Cancel);
    QCOMPARE(box.button(QDialogButtonBox::Cancel)->text(), before.button(QDialogButtonBox::Cancel)->text());
  }
};

}  // namespace korinbo

QTEST_MAIN(korinbo::QtTranslationsTest)
#include "qt_translations_test.moc"
