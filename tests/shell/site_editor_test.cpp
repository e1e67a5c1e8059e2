// The window "サイト定義" against pages on a loopback server: the rows and the page follow every
// change of the definition, errors and missing markers are named, a runaway pattern ends, saving
// writes exactly the expected bytes, and cancelling writes nothing.
#include <QAction>
#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QTreeWidget>
#include <QtTest>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "korinbo/codepage.h"
#include "korinbo/file_io.h"
#include "korinbo/httpd/server.h"
#include "korinbo/test/temp_dir.h"
#include "main_window.h"
#include "page_view.h"
#include "site_editor.h"

namespace korinbo {
namespace {

using httpd::Response;
using httpd::Server;

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

// A page of `count` headlines "見出しN" linking to "aN.html", in Shift_JIS.
std::string Page(int count) {
  std::string page = "<html><body><p><a href=\"nav.html\">" + Sjis("ナビ") + "</a></p><ul>\r\n";
  for (int i = 1; i <= count; ++i) {
    page += "<li><a href=\"a" + std::to_string(i) + ".html\">" + Sjis("見出し") + std::to_string(i) +
            "</a></li>\r\n";
  }
  return page + "</ul></body></html>\r\n";
}

const char* const kPattern = "<li><a href=\"([^\"]*)\">([^<]*)</a>";

// A site file's lines as the editor writes them, from UTF-8 texts.
std::string SiteFile(const std::string& url, const std::string& anc_form,
                     const std::string& remark = "[$1]") {
  return Sjis("url=" + url + "\r\nstr_start=<ul>\r\nstr_end=</ul>\r\nanc_form=" + anc_form +
              "\r\njump_url=$1\r\ncaptions=$2\r\nremark=" + remark + "\r\nencode=\r\n");
}

using Snapshot = std::map<std::filesystem::path, std::string>;

Snapshot Files(const std::filesystem::path& dir) {
  Snapshot files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
    if (entry.is_regular_file()) files[entry.path()] = ReadFileBytes(entry.path()).value_or(std::string());
  }
  return files;
}

// The first node of that text under a root of that text; the root itself for an empty child text.
QTreeWidgetItem* Find(const QTreeWidget* tree, const QString& root_text, const QString& child_text) {
  for (QTreeWidgetItem* item : tree->findItems(child_text.isEmpty() ? root_text : child_text,
                                               Qt::MatchExactly | Qt::MatchRecursive)) {
    const QTreeWidgetItem* parent = item->parent();
    if (child_text.isEmpty() ? parent == nullptr : parent != nullptr && parent->text(0) == root_text)
      return item;
  }
  return nullptr;
}

}  // namespace

class SiteEditorTest : public QObject {
  Q_OBJECT

  std::unique_ptr<test::TempDir> dir_;
  std::unique_ptr<Server> server_;
  QStringList boxes_;
  bool answer_ = true;  // to every question

  std::filesystem::path SitePath(const char* utf8_name) const { return dir_->path() / "newsurl" / utf8_name; }
  void WriteSite(const char* utf8_name, const std::string& bytes) const {
    dir_->Write(std::filesystem::path("newsurl") / utf8_name, bytes);
  }
  std::string Read(const std::filesystem::path& path) const {
    return ReadFileBytes(path).value_or("(missing)");
  }

  void Hook(SiteEditor& editor) {
    editor.SetBoxHook([this](SiteEditor::BoxKind, const QString& text) {
      boxes_ << text;
      return answer_;
    });
  }
  std::unique_ptr<SiteEditor> Editor() {
    auto editor = std::make_unique<SiteEditor>(dir_->path(), DownloadOptions{}, BuiltInListImages());
    Hook(*editor);
    editor->show();
    return editor;
  }
  std::unique_ptr<SiteEditor> EditorWithPage(const std::string& page,
                                             const std::string& anc_form = kPattern) {
    server_->Route("/n/index.html", Response::Text(page));
    WriteSite("国内_毎日.txt", SiteFile(server_->Url("/n/index.html"), anc_form));
    auto editor = Editor();
    editor->OpenSiteFile(Sjis("国内_毎日.txt"));
    editor->FetchPage();
    Settle(*editor);
    return editor;
  }
  static void Settle(const SiteEditor& editor, int timeout_ms = 10000) {
    QTRY_VERIFY_WITH_TIMEOUT(editor.settled(), timeout_ms);
  }
  static QString Cell(const SiteEditor& editor, int row, int column) {
    const QAbstractItemModel* model = editor.rows_view()->model();
    return model->data(model->index(row, column)).toString();
  }
  static int RowCount(const SiteEditor& editor) { return editor.rows_view()->model()->rowCount(); }

  std::unique_ptr<MainWindow> Window() {
    auto window = std::make_unique<MainWindow>(dir_->path(), dir_->path() / "korinbo.ini");
    window->SetMessageBoxHook(
        [this](MainWindow::BoxKind, const QString&, const QString& text) { boxes_ << text; });
    window->RunShowing();
    if (!QTest::qWaitForWindowExposed(window.get())) qWarning("window not exposed");
    window->site_tree()->expandAll();
    return window;
  }
  SiteEditor* OpenedEditor(MainWindow& window) {
    SiteEditor* editor = window.findChild<SiteEditor*>();
    if (editor != nullptr) Hook(*editor);
    return editor;
  }
  static void RightClick(MainWindow& window, QTreeWidgetItem* item) {
    QTreeWidget* tree = window.site_tree();
    tree->scrollToItem(item);
    QTest::mouseClick(tree->viewport(), Qt::RightButton, {}, tree->visualItemRect(item).center());
  }

 private slots:
  void init() {
    dir_ = std::make_unique<test::TempDir>();
    server_ = std::make_unique<Server>();
    boxes_.clear();
    answer_ = true;
  }
  void cleanup() {
    server_.reset();
    dir_.reset();
  }

  void TypingAPatternGivesTheRowsOfTheFetch() {
    dir_->Write("logdata.txt", server_->Url("/n/a2.html") + "\r\n");
    dir_->Write("visitdata.txt", server_->Url("/n/a3.html") + "\r\n");
    auto editor = EditorWithPage(Page(3), "");
    QVERIFY(editor->status_label()->text().contains(U("empty pattern")));
    QCOMPARE(RowCount(*editor), 0);

    editor->pattern_edit()->setFocus();
    QTest::keyClicks(editor->pattern_edit(), QString::fromUtf8(kPattern));
    Settle(*editor);
    QCOMPARE(RowCount(*editor), 3);
    for (int i = 0; i < 3; ++i) {
      const QString n = QString::number(i + 1);
      QCOMPARE(Cell(*editor, i, 0), U("見出し") + n);
      QCOMPARE(Cell(*editor, i, 1), QStringLiteral("[a%1.html]").arg(n));
      QCOMPARE(Cell(*editor, i, 2), QString::fromStdString(server_->Url("/n/a" + n.toStdString() + ".html")));
      QCOMPARE(Cell(*editor, i, 3), QStringLiteral("a%1.html").arg(n));
      QCOMPARE(Cell(*editor, i, 4), U("見出し") + n);
    }
    QCOMPARE(editor->rows_view()->model()->headerData(4, Qt::Horizontal).toString(), QStringLiteral("$2"));
    QCOMPARE(editor->status_label()->text(), U("見出し 3個"));
    // Highlights: the navigation before the list dimmed, the matches marked.
    QVERIFY(editor->page_view()->highlights().size() >= 1 + 3 * 3);
    QVERIFY(editor->page_view()->toPlainText().startsWith(U("<html><body><p><a href=\"nav.html\">ナビ")));
    // Nothing was written: no page dump, and the logs as they were.
    QVERIFY(!std::filesystem::exists(dir_->path() / "getdata.txt"));
    QCOMPARE(Read(dir_->path() / "logdata.txt"), server_->Url("/n/a2.html") + "\r\n");
  }

  void TheSelectedRowsMatchIsShownInThePage() {
    auto editor = EditorWithPage(Page(400));
    QCOMPARE(RowCount(*editor), 400);
    editor->rows_view()->setCurrentIndex(editor->rows_view()->model()->index(349, 0));
    PageView* page = editor->page_view();
    const std::string& bytes = *page->page();
    const std::size_t start = bytes.find("<li><a href=\"a350.html\">");
    QCOMPARE(page->textCursor().position(), page->PositionOfByte(start));
    QVERIFY(page->viewport()->rect().contains(page->cursorRect().center()));
    QVERIFY(std::any_of(page->highlights().begin(), page->highlights().end(),
                        [&](const QTextEdit::ExtraSelection& s) {
                          return s.cursor.selectionStart() == page->PositionOfByte(start);
                        }));
  }

  void ThePageViewGivesEveryByteItsPlace() {
    PageView view;
    std::string long_line;
    for (int i = 0; i < 600; ++i)
      long_line += "<td>" + Sjis("表") + "</td>";  // 6,600 bytes, 6,000 characters
    const auto page =
        std::make_shared<const std::string>("a\r\nb\rc\nd\x01\x7f" + Sjis("漢") + "\r\n" + long_line);
    view.SetPage(page);
    const QString text = view.toPlainText();
    QVERIFY(text.startsWith(QString::fromUtf8("a\nb\nc\nd\u2401\u2421漢\n<td>表</td>")));
    // The long line is shown in lines of at most a thousand characters, each cut after a ">".
    const QStringList lines = text.split(u'\n');
    QCOMPARE(lines.size(), 4 + 8);
    for (const QString& line : lines.mid(4, 7)) {
      QVERIFY(line.size() <= 1001);
      QVERIFY2(line.endsWith(QStringLiteral(">\u21a9")), qPrintable(line.right(10)));
    }
    // Each byte maps to the character it belongs to; CR LF to its one line break.
    const std::string& bytes = *page;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      const QChar shown = text[view.PositionOfByte(i)];
      const char byte = bytes[i];
      if (byte == '\r' || byte == '\n') {
        QCOMPARE(shown, QChar(u'\n'));
      } else if (byte == '<' || byte == '>' || byte == 't' || byte == 'd' || byte == '/') {
        QCOMPARE(shown, QChar(static_cast<char16_t>(byte)));
      }
    }
    QCOMPARE(text[view.PositionOfByte(bytes.find(Sjis("漢")) + 1)], QChar(u'\u6f22'));
    QCOMPARE(view.PositionOfByte(bytes.size()), text.size());
  }

  void ABrokenPatternShowsTheErrorAndItsPosition() {
    auto editor = EditorWithPage(Page(3));
    editor->pattern_edit()->setPlainText(U("<li>見出し([0-9]+</li>"));
    Settle(*editor);
    QCOMPARE(RowCount(*editor), 0);
    const QString status = editor->status_label()->text();
    QVERIFY2(status.startsWith(U("パターンの誤り（8文字目）")), qPrintable(status));
    QVERIFY2(status.contains(U("missing ) for (")), qPrintable(status));
    // The "(" is the eighth character and the tenth byte of the pattern.
    const QList<QTextEdit::ExtraSelection> marks = editor->pattern_edit()->extraSelections();
    QCOMPARE(marks.size(), 1);
    QCOMPARE(marks.front().cursor.selectionStart(), 7);
    QCOMPARE(marks.front().cursor.selectedText(), QStringLiteral("("));
    // Mended, the mark goes.
    editor->pattern_edit()->setPlainText(QString::fromUtf8(kPattern));
    Settle(*editor);
    QVERIFY(editor->pattern_edit()->extraSelections().isEmpty());
    QCOMPARE(RowCount(*editor), 3);
  }

  void AMissingMarkerIsNamed() {
    auto editor = EditorWithPage(Page(2));
    editor->value_edit("str_start")->setText(QStringLiteral("<ol>"));
    Settle(*editor);
    QCOMPARE(editor->status_label()->text(), U("見出し 2個（開始マーカー (str_start) が見つかりません）"));
    editor->value_edit("str_start")->setText(QStringLiteral("<ul>"));
    editor->value_edit("str_end")->setText(QStringLiteral("<li>"));
    Settle(*editor);
    QCOMPARE(RowCount(*editor), 0);
    QCOMPARE(editor->status_label()->text(), U("見出しなし: パターンに一致するところがありません"));
    editor->value_edit("str_end")->setText(QStringLiteral("</ol>"));
    editor->pattern_edit()->setPlainText(QStringLiteral("<dd>"));
    Settle(*editor);
    QCOMPARE(editor->status_label()->text(), U("見出しなし: 終了マーカー (str_end) が見つかりません"));
  }

  void ARunawayPatternEndsWithItsError() {
    std::string page = Page(3);
    for (int i = 0; i < 200000; ++i) page += "<td>";
    auto editor = EditorWithPage(page);
    editor->value_edit("str_start")->clear();
    editor->value_edit("str_end")->clear();
    editor->pattern_edit()->setPlainText(QStringLiteral("<td>(.*?)</td>"));
    Settle(*editor, 30000);
    QVERIFY2(editor->status_label()->text().contains(QStringLiteral("too long")),
             qPrintable(editor->status_label()->text()));
    // The window goes on: the next change is shown.
    editor->pattern_edit()->setPlainText(QString::fromUtf8(kPattern));
    Settle(*editor, 30000);
    QCOMPARE(RowCount(*editor), 3);
  }

  void TheDeclaredCharsetIsOfferedWithOneClick() {
    Response euc = Response::Text("<ul><li><a href=\"x.html\">\xB8\xAB\xBD\xD0\xA4\xB7</a></li></ul>");
    euc.headers = {{"Content-Type", "text/html; charset=EUC-JP"}};
    server_->Route("/euc.html", euc);
    WriteSite("国内_毎日.txt", SiteFile(server_->Url("/euc.html"), kPattern));
    auto editor = Editor();
    editor->OpenSiteFile(Sjis("国内_毎日.txt"));
    editor->FetchPage();
    Settle(*editor);
    QVERIFY(editor->charset_label()->isVisible());
    QVERIFY2(editor->charset_label()->text().contains(U("EUC-JP（HTTPヘッダによる）→ encode=euc")),
             qPrintable(editor->charset_label()->text()));
    QVERIFY(editor->use_charset_button()->isVisible());
    editor->use_charset_button()->click();
    QCOMPARE(editor->encode_box()->currentText(), QStringLiteral("euc"));
    QVERIFY(!editor->use_charset_button()->isVisible());
    Settle(*editor);
    QCOMPARE(Cell(*editor, 0, 0), U("見出し"));
  }

  void AUrlTheFetchRefusesIsSaidAndHttpsIsOfferedAsHttp() {
    auto editor = Editor();
    QCOMPARE(editor->url_message_label()->text(), U("URLを入力してください。"));
    QVERIFY(!editor->fetch_button()->isEnabled());
    editor->value_edit("url")->setText(QStringLiteral("https://a.example/x.html"));
    QCOMPARE(editor->url_message_label()->text(), U("URLはhttp://から入力してください。"));
    QVERIFY(editor->http_button()->isVisible());
    editor->http_button()->click();
    QCOMPARE(editor->value_edit("url")->text(), QStringLiteral("http://a.example/x.html"));
    QVERIFY(!editor->url_message_label()->isVisible());
    QVERIFY(!editor->http_button()->isVisible());
    QVERIFY(editor->fetch_button()->isEnabled());
  }

  void ValuesTakeNoLineBreak() {
    auto editor = Editor();
    editor->value_edit("captions")->insert(QStringLiteral("$1\n$2"));
    QCOMPARE(editor->value_edit("captions")->text(), QStringLiteral("$1$2"));
    QGuiApplication::clipboard()->setText(QStringLiteral("<a>\r\n(.*)"));
    editor->pattern_edit()->paste();
    editor->pattern_edit()->setFocus();
    QTest::keyClick(editor->pattern_edit(), Qt::Key_Return);
    QCOMPARE(editor->pattern_edit()->toPlainText(), QStringLiteral("<a>(.*)"));
  }

  void SavingANewSiteWritesTheEightKeysInShiftJis() {
    auto editor = Editor();
    editor->StartNewSite(Sjis("経済"));
    editor->site_edit()->setText(U("日経"));
    QCOMPARE(editor->file_name_label()->text(), U("経済_日経.txt"));
    editor->value_edit("url")->setText(QStringLiteral("http://a.example/"));
    editor->pattern_edit()->setPlainText(QString::fromUtf8(kPattern));
    editor->value_edit("jump_url")->setText(QStringLiteral("$1"));
    editor->value_edit("captions")->setText(QStringLiteral("$2"));
    editor->value_edit("remark")->setText(U("日経 $1"));
    editor->encode_box()->setCurrentText(QStringLiteral("utf8"));
    std::pair<std::string, std::string> saved;
    editor->SetSavedHook([&](const std::string& old_file, const std::string& new_file) {
      saved = {old_file, new_file};
    });
    QVERIFY(editor->Save());
    QCOMPARE(Read(SitePath("経済_日経.txt")),
             Sjis("url=http://a.example/\r\nstr_start=\r\nstr_end=\r\nanc_form=" + std::string(kPattern) +
                  "\r\njump_url=$1\r\ncaptions=$2\r\nremark=日経 $1\r\nencode=utf8\r\n"));
    QCOMPARE(saved.first, std::string());
    QCOMPARE(saved.second, Sjis("経済_日経.txt"));
    QVERIFY(boxes_.isEmpty());
    QVERIFY(!editor->isVisible());
  }

  void SavingAnEditedFileKeepsItsCommentLine() {
    WriteSite("国内_毎日.txt", Sjis("# 毎日の一覧（2024年から）\r\n") +
                                   SiteFile("http://a.example/", kPattern) + "extra=1\r\n");
    auto editor = Editor();
    editor->OpenSiteFile(Sjis("国内_毎日.txt"));
    editor->value_edit("remark")->setText(QStringLiteral("$2 ($1)"));
    QVERIFY(editor->Save());
    QCOMPARE(Read(SitePath("国内_毎日.txt")), Sjis("# 毎日の一覧（2024年から）\r\n") +
                                                  SiteFile("http://a.example/", kPattern, "$2 ($1)") +
                                                  "extra=1\r\n");
    QVERIFY(boxes_.isEmpty());
  }

  void SavingAUtf8FileKeepsItUtf8() {
    const std::string utf8 =
        "\xEF\xBB\xBF# \xE6\x9C\x9D\xE5\x88\x8A\r\nurl =http://a.example/\r\nremark=\xE6\x97\xA7\r\n";
    WriteSite("国内_毎日.txt", utf8);
    auto editor = Editor();
    editor->OpenSiteFile(Sjis("国内_毎日.txt"));
    QCOMPARE(editor->value_edit("remark")->text(), U("旧"));
    editor->value_edit("remark")->setText(U("新"));
    QVERIFY(editor->Save());
    QCOMPARE(
        Read(SitePath("国内_毎日.txt")),
        std::string(
            "\xEF\xBB\xBF# \xE6\x9C\x9D\xE5\x88\x8A\r\nurl =http://a.example/\r\nstr_start=\r\nstr_end=\r\n"
            "anc_form=\r\njump_url=\r\ncaptions=\r\nremark=\xE6\x96\xB0\r\nencode=\r\n"));
  }

  void ReplacingAnotherFileAsksFirst() {
    WriteSite("国内_読売.txt", "url=http://old.example/\r\n");
    auto editor = Editor();
    editor->StartNewSite(Sjis("国内"));
    editor->site_edit()->setText(U("読売"));
    answer_ = false;
    QVERIFY(!editor->Save());
    QCOMPARE(boxes_, QStringList{U("「国内_読売.txt」はすでにあります。置き換えますか？")});
    QCOMPARE(Read(SitePath("国内_読売.txt")), std::string("url=http://old.example/\r\n"));
    answer_ = true;
    QVERIFY(editor->Save());
    QCOMPARE(Read(SitePath("国内_読売.txt")),
             std::string("url=\r\nstr_start=\r\nstr_end=\r\nanc_form=\r\njump_url=\r\ncaptions=\r\nremark="
                         "\r\nencode=\r\n"));
  }

  void NamesThatWouldNotSplitBackAreRefused() {
    struct Case {
      const char* category;
      const char* site;
      const char* message;
    };
    const Case cases[] = {
        {"経_済", "日経", "カテゴリに「_」は使えません。"},
        {"", "日経", "カテゴリを入力してください。"},
        {"経済", "", "サイト名を入力してください。"},
        {"経済", "日/経", "カテゴリとサイト名に「/」や制御文字は使えません。"},
        {"経済", "日経\u00e9", "カテゴリとサイト名には、Shift_JISで書ける文字だけが使えます。"},
    };
    auto editor = Editor();
    for (const Case& c : cases) {
      boxes_.clear();
      editor->category_edit()->setText(U(c.category));
      editor->site_edit()->setText(U(c.site));
      QCOMPARE(editor->file_name_label()->text(), U(c.message));
      QVERIFY(!editor->Save());
      QCOMPARE(boxes_, QStringList{U(c.message)});
    }
    editor->site_edit()->setText(QString(250, u'x'));
    QCOMPARE(editor->file_name_label()->text(), U("カテゴリとサイト名が長すぎます。"));
    QVERIFY(!std::filesystem::exists(dir_->path() / "newsurl"));
  }

  void CancelWritesNothing() {
    auto editor = EditorWithPage(Page(3));
    const Snapshot before = Files(dir_->path());
    editor->value_edit("remark")->setText(QStringLiteral("changed"));
    editor->site_edit()->setText(U("毎日新聞"));
    Settle(*editor);
    answer_ = false;  // "変更を保存せずに閉じますか？" - no: the window stays
    QTest::keyClick(editor.get(), Qt::Key_Escape);
    QVERIFY(editor->isVisible());
    answer_ = true;
    QTest::keyClick(editor.get(), Qt::Key_Escape);
    QVERIFY(!editor->isVisible());
    QCOMPARE(boxes_, (QStringList{U("変更を保存せずに閉じますか？"), U("変更を保存せずに閉じますか？")}));
    QCOMPARE(Files(dir_->path()), before);
  }

  void TheMenusOpenTheEditor() {
    WriteSite("国内_毎日.txt", SiteFile("http://a.example/m/", kPattern));
    WriteSite("経済_日経.txt", SiteFile("http://a.example/n/", kPattern));
    dir_->Write("favolite.txt", Sjis("経済_日経\r\n"));
    auto window = Window();

    // A favourite opens its own file.
    RightClick(*window, Find(window->site_tree(), U("お気に入り"), U("経済_日経")));
    QCOMPARE(window->site_menu()->actions().value(3)->text(), U("サイト定義を編集..."));
    window->site_menu()->hide();
    window->site_menu()->actions().at(3)->trigger();
    SiteEditor* editor = OpenedEditor(*window);
    QVERIFY(editor != nullptr);
    QCOMPARE(editor->windowTitle(), U("サイト定義"));
    QCOMPARE(editor->category_edit()->text(), U("経済"));
    QCOMPARE(editor->site_edit()->text(), U("日経"));
    QCOMPARE(editor->value_edit("url")->text(), QStringLiteral("http://a.example/n/"));
    editor->close();
    QTRY_VERIFY(window->findChild<SiteEditor*>() == nullptr);

    // A category gives a new site in it.
    RightClick(*window, Find(window->site_tree(), U("国内"), QString()));
    window->category_menu()->hide();
    window->category_menu()->actions().at(1)->trigger();
    editor = OpenedEditor(*window);
    QVERIFY(editor != nullptr);
    QCOMPARE(editor->category_edit()->text(), U("国内"));
    QCOMPARE(editor->site_edit()->text(), QString());
    QCOMPARE(editor->value_edit("url")->text(), QString());
    editor->close();
    QTRY_VERIFY(window->findChild<SiteEditor*>() == nullptr);

    // "ファイル(&F)": a new site in no category.
    QMenu* file_menu = window->menuBar()->actions().at(0)->menu();
    QCOMPARE(file_menu->actions().value(2)->text(), U("新しいサイト定義..."));
    file_menu->actions().at(2)->trigger();
    editor = OpenedEditor(*window);
    QVERIFY(editor != nullptr);
    QCOMPARE(editor->category_edit()->text(), QString());
    editor->close();
  }

  void RenamingMovesTheFileAndItsFavourites() {
    const std::string definition = SiteFile("http://a.example/m/", kPattern);
    WriteSite("国内_毎日.txt", definition);
    WriteSite("国内_読売.txt", SiteFile("http://a.example/y/", kPattern));
    dir_->Write("favolite.txt", Sjis("国内_毎日\r\n国内_読売\r\n"));
    auto window = Window();
    RightClick(*window, Find(window->site_tree(), U("国内"), U("毎日")));
    window->site_menu()->hide();
    window->site_menu()->actions().at(3)->trigger();
    SiteEditor* editor = OpenedEditor(*window);
    QVERIFY(editor != nullptr);
    editor->site_edit()->setText(U("毎日新聞"));
    QVERIFY(editor->Save());
    QCOMPARE(boxes_, QStringList{U("サイト定義「国内_毎日.txt」を「国内_毎日新聞.txt」に名前を変更します。"
                                   "元のファイルは削除されます。よろしいですか？")});
    QCOMPARE(Read(SitePath("国内_毎日新聞.txt")), definition);
    QVERIFY(!std::filesystem::exists(SitePath("国内_毎日.txt")));
    QCOMPARE(Read(dir_->path() / "favolite.txt"), Sjis("国内_毎日新聞\r\n国内_読売\r\n"));
    // The tree shows the site under its new name, selected, and the favourites as they are now.
    QTreeWidget* tree = window->site_tree();
    QCOMPARE(tree->currentItem(), Find(tree, U("国内"), U("毎日新聞")));
    QVERIFY(Find(tree, U("お気に入り"), U("国内_毎日新聞")) != nullptr);
    QVERIFY(Find(tree, U("国内"), U("毎日")) == nullptr);
  }

  void DecliningTheRenameWritesNothing() {
    WriteSite("国内_毎日.txt", SiteFile("http://a.example/m/", kPattern));
    const Snapshot before = Files(dir_->path());
    auto editor = Editor();
    editor->OpenSiteFile(Sjis("国内_毎日.txt"));
    editor->category_edit()->setText(U("地方"));
    answer_ = false;
    QVERIFY(!editor->Save());
    QCOMPARE(boxes_.size(), 1);
    QCOMPARE(Files(dir_->path()), before);
    QVERIFY(editor->isVisible());
  }
};

}  // namespace korinbo

QTEST_MAIN(korinbo::SiteEditorTest)
#include "site_editor_test.moc"
