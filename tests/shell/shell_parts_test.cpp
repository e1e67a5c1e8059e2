// The window's small parts: the message box caption, the text boundary, the list images, the
// browser dialog's filter and the input blocker of a running fetch.
#include <QAction>
#include <QImage>
#include <QImageWriter>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWidget>
#include <QtTest>

#include <cstdlib>
#include <filesystem>

#include "browser.h"
#include "input_blocker.h"
#include "korinbo/codepage.h"
#include "korinbo/test/temp_dir.h"
#include "list_images.h"
#include "qt_text.h"

namespace korinbo {
namespace {

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

// The image as a grey value per pixel, drawn over white, as a greyscale screen would show it.
QImage OnWhiteInGrey(const QPixmap& pixmap) {
  QImage canvas(pixmap.size(), QImage::Format_ARGB32);
  canvas.fill(Qt::white);
  QPainter painter(&canvas);
  painter.drawPixmap(0, 0, pixmap);
  painter.end();
  return canvas.convertToFormat(QImage::Format_Grayscale8);
}

int DifferingPixels(const QImage& a, const QImage& b) {
  int count = 0;
  for (int y = 0; y < a.height(); ++y) {
    for (int x = 0; x < a.width(); ++x) {
      if (std::abs(qGray(a.pixel(x, y)) - qGray(b.pixel(x, y))) > 48) ++count;
    }
  }
  return count;
}

int Alpha(const QPixmap& pixmap, int x, int y) { return pixmap.toImage().pixelColor(x, y).alpha(); }

// Records the input that reaches it.
class InputRecorder : public QWidget {
 public:
  int keys = 0;
  int presses = 0;
  int wheels = 0;

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    // A click with a modifier presses the modifier key on its own first.
    if (event->key() != Qt::Key_Control && event->key() != Qt::Key_Shift) ++keys;
  }
  void mousePressEvent(QMouseEvent*) override { ++presses; }
  void wheelEvent(QWheelEvent*) override { ++wheels; }
};

void SendWheel(QWidget* widget) {
  QWheelEvent wheel(QPointF(5, 5), widget->mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, -120),
                    Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(widget, &wheel);
}

}  // namespace

class ShellPartsTest : public QObject {
  Q_OBJECT

 private slots:
  void ProgramTitleFollowsTheFileName_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("title");
    QTest::newRow("plain") << U("/usr/bin/korinbo") << U("korinbo");
    QTest::newRow("upper case, extension") << U("/opt/KORINBO.bin") << U("Korinbo");
    QTest::newRow("first dot cuts") << U("/a.b/My.Prog.exe") << U("My");
    QTest::newRow("mixed case") << U("/x/KoRiNbO") << U("Korinbo");
    QTest::newRow("non-ASCII letters") << U("/x/ÄBÇ.exe") << U("Äbç");
    QTest::newRow("one letter") << U("/x/K.exe") << U("K");
    QTest::newRow("leading dot") << U("/x/.hidden") << QString();
  }
  void ProgramTitleFollowsTheFileName() {
    QFETCH(QString, path);
    QFETCH(QString, title);
    QCOMPARE(ProgramTitle(path), title);
  }

  void TextsCrossTheWidgetBoundaryUnchanged() {
    const std::string sjis = Sjis("見出し①ｶﾀｶﾅ～");
    const QString shown = ToQString(sjis);
    QCOMPARE(shown, U("見出し①ｶﾀｶﾅ～"));
    QCOMPARE(ToSjis(shown), sjis);
  }

  void BrokenBytesAndUnmappableCharactersDegradeGently() {
    QVERIFY(ToQString(std::string("a\x82", 2)).contains(QChar(0xFFFD)));
    const std::string back = ToSjis(U("あ😀b"));
    QVERIFY(back.starts_with(Sjis("あ")));
    QVERIFY(back.ends_with("b"));
    QVERIFY(back.find('?') != std::string::npos);
  }

  void BuiltInImagesDifferAlsoInGreyscale() {
    const ListImages images = BuiltInListImages();
    for (const QPixmap& image : images) QCOMPARE(image.size(), QSize(16, 16));
    const QImage star = OnWhiteInGrey(images[0]);
    const QImage ring = OnWhiteInGrey(images[1]);
    const QImage check = OnWhiteInGrey(images[2]);
    QVERIFY2(DifferingPixels(star, ring) >= 20, "new and unread look alike");
    QVERIFY2(DifferingPixels(star, check) >= 20, "new and read look alike");
    QVERIFY2(DifferingPixels(ring, check) >= 20, "unread and read look alike");
  }

  void BuiltInImagesHaveTheirShapes() {
    const ListImages images = BuiltInListImages();
    // The star is filled at its centre; the ring is hollow there and drawn around it.
    QVERIFY(Alpha(images[0], 8, 8) > 200);
    QVERIFY(Alpha(images[1], 8, 8) < 40);
    QVERIFY(Alpha(images[1], 8, 2) > 120);
    // The check mark runs from the lower left to the upper right and leaves the lower right free.
    QVERIFY(Alpha(images[2], 6, 12) > 120);
    QVERIFY(Alpha(images[2], 13, 13) < 40);
    QVERIFY(Alpha(images[2], 1, 1) < 40);
  }

  void IconFilesReplaceTheirImagesOnly() {
    if (!QImageWriter::supportedImageFormats().contains("ico")) QSKIP("no ICO writer in this Qt");
    test::TempDir dir;
    QImage red(16, 16, QImage::Format_ARGB32);
    red.fill(Qt::red);
    QVERIFY(red.save(PathToQString(dir.path() / "new.ico"), "ICO"));
    QImage blue(32, 32, QImage::Format_ARGB32);
    blue.fill(Qt::blue);
    QVERIFY(blue.save(PathToQString(dir.path() / "read.ico"), "ICO"));

    const ListImages builtin = BuiltInListImages();
    const ListImages images = LoadListImages(dir.path());
    QCOMPARE(images[0].toImage().pixelColor(8, 8), QColor(Qt::red));
    QCOMPARE(images[1].toImage(), builtin[1].toImage());
    QCOMPARE(images[2].size(), QSize(16, 16));
    QCOMPARE(images[2].toImage().pixelColor(8, 8), QColor(Qt::blue));
  }

  void AnIconFileThatIsNoImageKeepsTheBuiltInOne() {
    test::TempDir dir;
    dir.Write("unread.ico", "this is no icon\r\n");
    std::filesystem::create_directory(dir.path() / "new.ico");
    const ListImages builtin = BuiltInListImages();
    const ListImages images = LoadListImages(dir.path());
    for (std::size_t i = 0; i < images.size(); ++i) QCOMPARE(images[i].toImage(), builtin[i].toImage());
  }

  void BrowserDialogOffersProgramsAndFolders() {
    test::TempDir dir;
    const auto script = dir.Write("browser", "#!/bin/sh\n");
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    const auto text = dir.Write("notes.txt", "text");
    std::filesystem::permissions(text,
                                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    std::filesystem::create_directory(dir.path() / "bin");
    QVERIFY(OffersAsBrowser(QFileInfo(PathToQString(script))));
    QVERIFY(!OffersAsBrowser(QFileInfo(PathToQString(text))));
    QVERIFY(OffersAsBrowser(QFileInfo(PathToQString(dir.path() / "bin"))));
  }

  // "%D" stands for a folder holding the programs "run" and "my browser/run".
  void BrowserCommandFromExecName_data() {
    QTest::addColumn<QString>("exec_name");
    QTest::addColumn<QString>("link");
    QTest::addColumn<QStringList>("command");  // program and arguments; empty: nothing starts
    const QString link = U("http://news.example/1.html");
    auto row = [&](const char* name, const char* exec_name, QStringList command, const QString& row_link) {
      QTest::newRow(name) << U(exec_name) << row_link << command;
    };
    // The four forms.
    row("plain path", "%D/run", {U("%D/run"), link}, link);
    row("path with arguments", "/usr/bin/firefox --new-tab", {U("/usr/bin/firefox"), U("--new-tab"), link},
        link);
    row("quoted path with a blank", "\"%D/my browser/run\"", {U("%D/my browser/run"), link}, link);
    row("quoted path plus arguments", "'%D/my browser/run' --new-tab -P \"a b\"",
        {U("%D/my browser/run"), U("--new-tab"), U("-P"), U("a b"), link}, link);
    // An existing file is taken whole; anything else is split.
    row("existing path with a blank", "%D/my browser/run", {U("%D/my browser/run"), link}, link);
    row("missing path with a blank", "/opt/no such/run", {U("/opt/no"), U("such/run"), link}, link);
    row("relative to the working directory", "run", {U("%D/run"), link}, link);
    row("a program on the PATH", "firefox", {U("firefox"), link}, link);
    row("escaped blank", "%D/my\\ browser/run -x", {U("%D/my browser/run"), U("-x"), link}, link);
    row("blanks around", "  /usr/bin/firefox\t--new-tab  ", {U("/usr/bin/firefox"), U("--new-tab"), link},
        link);
    row("empty words", "prog \"\" ''", {U("prog"), QString(), QString(), link}, link);
    row("nothing expanded", "prog $HOME ~ * \"$(id)\" `id`",
        {U("prog"), U("$HOME"), U("~"), U("*"), U("$(id)"), U("`id`"), link}, link);
    row("escapes inside double quotes", "prog \"a\\\"b\\$c\\x\" 'd\\e'",
        {U("prog"), U("a\"b$c\\x"), U("d\\e"), link}, link);
    row("comment", "prog --x # the usual one", {U("prog"), U("--x"), link}, link);
    // Nothing to start.
    row("unbalanced double quote", "\"%D/my browser/run --x", {}, link);
    row("unbalanced single quote", "prog 'a", {}, link);
    row("backslash at the end", "prog a\\", {}, link);
    row("only blanks", "   ", {}, link);
    row("empty", "", {}, link);
    // The link is one argument as it is, whatever it holds.
    const QString odd = U("http://x.example/a b\"c'd;touch p;$(touch q)`touch r`\\ #e");
    row("odd link, whole program", "%D/run", {U("%D/run"), odd}, odd);
    row("odd link, split command", "prog --x", {U("prog"), U("--x"), odd}, odd);
    row("empty link", "prog", {U("prog"), QString()}, QString());
  }
  void BrowserCommandFromExecName() {
    QFETCH(QString, exec_name);
    QFETCH(QString, link);
    QFETCH(QStringList, command);
    test::TempDir dir;
    dir.Write("run", "#!/bin/sh\n");
    dir.Write("my browser/run", "#!/bin/sh\n");
    const QString folder = PathToQString(dir.path());
    exec_name.replace(U("%D"), folder);
    for (QString& part : command) part.replace(U("%D"), folder);
    const std::optional<BrowserCommand> made = BrowserCommandFor(exec_name, link, folder);
    if (command.isEmpty()) {
      QVERIFY2(!made, qPrintable(made ? made->program : QString()));
      QVERIFY(!StartBrowser(exec_name, link, folder));
      return;
    }
    QVERIFY(made);
    QCOMPARE(QStringList{made->program} + made->arguments, command);
  }

  void BlockerSwallowsInputAndNotesEscape() {
    InputRecorder widget;
    auto* action = new QAction(&widget);
    action->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    widget.addAction(action);
    QSignalSpy triggered(action, &QAction::triggered);
    widget.show();
    widget.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&widget));
    {
      InputBlocker blocker;
      QTest::keyClick(&widget, Qt::Key_A);
      QTest::mouseClick(&widget, Qt::LeftButton);
      SendWheel(&widget);
      QTest::keyClick(&widget, Qt::Key_Q, Qt::ControlModifier);
      QVERIFY(!widget.close());
      QVERIFY(widget.isVisible());
      QCOMPARE(widget.keys, 0);
      QCOMPARE(widget.presses, 0);
      QCOMPARE(widget.wheels, 0);
      QCOMPARE(triggered.count(), 0);
      QVERIFY(!blocker.escape_pressed());
      QTest::keyClick(&widget, Qt::Key_Escape);
      QVERIFY(blocker.escape_pressed());
      QCOMPARE(widget.keys, 0);
    }
    // Gone with the blocker: everything arrives again.
    QTest::keyClick(&widget, Qt::Key_A);
    QTest::mouseClick(&widget, Qt::LeftButton);
    QTest::keyClick(&widget, Qt::Key_Q, Qt::ControlModifier);
    QCOMPARE(widget.keys, 1);
    QCOMPARE(widget.presses, 1);
    QCOMPARE(triggered.count(), 1);
  }

  void SuspendedBlockerLetsInputThrough() {
    InputRecorder widget;
    widget.show();
    InputBlocker blocker;
    {
      InputBlocker::Suspension open(&blocker);
      QTest::keyClick(&widget, Qt::Key_Escape);
      QTest::keyClick(&widget, Qt::Key_A);
    }
    QTest::keyClick(&widget, Qt::Key_B);
    QCOMPARE(widget.keys, 2);
    // Esc pressed in a message box during the fetch closes the box and does not stop the fetch.
    QVERIFY(!blocker.escape_pressed());
  }
};

}  // namespace korinbo

QTEST_MAIN(korinbo::ShellPartsTest)
#include "shell_parts_test.moc"
