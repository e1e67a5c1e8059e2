#include "site_editor.h"

#include <algorithm>
#include <limits>
#include <system_error>
#include <utility>

#include <QAbstractTableModel>
#include <QComboBox>
#include <QCoreApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>
#include <QValidator>

#include "korinbo/codepage.h"
#include "korinbo/errors.h"
#include "korinbo/file_io.h"
#include "korinbo/history.h"
#include "korinbo/site_tree.h"
#include "korinbo/text.h"
#include "page_view.h"
#include "qt_text.h"

namespace korinbo {
namespace {

constexpr int kDebounceMs = 150;
constexpr std::size_t kMaxFileNameBytes = 255;  // of the UTF-8 name on disk

QString Ui(std::string_view utf8) { return ToQString(Sjis(utf8)); }

bool IsLineBreak(QChar c) { return c == u'\r' || c == u'\n'; }

// Values are one line each: a line break that arrives (pasted, dropped) is dropped.
class OneLineValidator : public QValidator {
 public:
  using QValidator::QValidator;
  State validate(QString& input, int& pos) const override {
    for (qsizetype i = input.size(); i-- > 0;) {
      if (!IsLineBreak(input[i])) continue;
      input.remove(i, 1);
      if (i < pos) --pos;
    }
    return Acceptable;
  }
};

std::size_t KeyIndex(std::string_view key) {
  for (std::size_t i = 0; i < kSiteKeys.size(); ++i) {
    if (kSiteKeys[i].name == key) return i;
  }
  return kSiteKeys.size();
}

const std::size_t kAncForm = KeyIndex("anc_form");
const std::size_t kEncode = KeyIndex("encode");

QString EncodeMeaning(const QString& encode) {
  if (encode.isEmpty()) return QStringLiteral("Shift_JIS");
  if (encode == u"euc") return QStringLiteral("EUC-JP");
  if (encode == u"jis") return QStringLiteral("ISO-2022-JP");
  if (encode == u"utf8") return QStringLiteral("UTF-8");
  return Ui("Shift_JIS（euc・jis・utf8 以外の値）");
}

}  // namespace

// The pattern's field: one line that wraps to show a long pattern whole, and marks the place of an
// error.
class PatternEdit : public QPlainTextEdit {
 public:
  explicit PatternEdit(QWidget* parent = nullptr) : QPlainTextEdit(parent) {
    setTabChangesFocus(true);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAnywhere);
    const int lines = 3;
    setFixedHeight(fontMetrics().lineSpacing() * lines + 2 * frameWidth() +
                   static_cast<int>(document()->documentMargin() * 2));
  }

  // Marks the character at `position` (the last one when the error lies at the end), or nothing.
  void MarkError(std::optional<int> position) {
    QList<QTextEdit::ExtraSelection> marks;
    const int length = static_cast<int>(toPlainText().size());
    if (position && length > 0) {
      QTextEdit::ExtraSelection mark;
      mark.cursor = QTextCursor(document());
      mark.cursor.setPosition(std::min(*position, length - 1));
      mark.cursor.setPosition(std::min(*position, length - 1) + 1, QTextCursor::KeepAnchor);
      mark.format.setBackground(QColor(0xff, 0xc8, 0xc8));
      mark.format.setUnderlineStyle(QTextCharFormat::WaveUnderline);
      mark.format.setUnderlineColor(Qt::red);
      marks.append(mark);
    }
    setExtraSelections(marks);
  }
  std::optional<int> marked() const {
    if (extraSelections().isEmpty()) return std::nullopt;
    return extraSelections().front().cursor.selectionStart();
  }

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) return;  // no line break
    QPlainTextEdit::keyPressEvent(event);
  }
  void insertFromMimeData(const QMimeData* source) override {
    QString text = source->text();
    text.remove(u'\r').remove(u'\n');
    insertPlainText(text);
  }
};

// The rows that the tested definition makes: caption with the icon, remark, link, then the
// groups of the match that made each.
class TestedRowsModel : public QAbstractTableModel {
 public:
  TestedRowsModel(const ListImages& images, QObject* parent) : QAbstractTableModel(parent) {
    for (std::size_t i = 0; i < images.size(); ++i) icons_[i] = QIcon(images[i]);
  }

  void SetTest(std::shared_ptr<const SiteTest> test) {
    beginResetModel();
    test_ = std::move(test);
    groups_ =
        test_ && !test_->matches.empty() ? static_cast<int>(test_->matches.front().groups.size()) - 1 : 0;
    endResetModel();
  }

  int rowCount(const QModelIndex& parent) const override {
    return parent.isValid() || !test_ ? 0 : static_cast<int>(test_->rows.size());
  }
  int columnCount(const QModelIndex& parent) const override {
    return parent.isValid() ? 0 : kFixed + groups_;
  }

  QVariant data(const QModelIndex& index, int role) const override {
    if (!test_ || !index.isValid() || index.row() >= rowCount({})) return {};
    const auto row = static_cast<std::size_t>(index.row());
    const HeadlineRow& headline = test_->rows[row];
    if (role == Qt::DecorationRole && index.column() == 0) {
      return headline.icon >= 0 && headline.icon < static_cast<int>(icons_.size())
                 ? QVariant(icons_[static_cast<std::size_t>(headline.icon)])
                 : QVariant();
    }
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole) return {};
    switch (index.column()) {
      case 0:
        return ToQString(headline.caption);
      case 1:
        return ToQString(headline.remark);
      case 2:
        return ToQString(headline.link);
      default: {
        const auto group = static_cast<unsigned long>(index.column() - kFixed + 1);
        QString text = ToQString(GroupText(*test_->page, test_->matches[row], group));
        text.remove(u'\r').replace(u'\n', u'\u21b5');
        return text;
      }
    }
  }

  QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
      return QAbstractTableModel::headerData(section, orientation, role);
    static const QStringList kTitles = {Ui("見出し"), Ui("備考"), QStringLiteral("URL")};
    return section < kFixed ? kTitles[section] : QStringLiteral("$%1").arg(section - kFixed + 1);
  }

 private:
  static constexpr int kFixed = 3;
  std::array<QIcon, 3> icons_;
  std::shared_ptr<const SiteTest> test_;
  int groups_ = 0;
};

SiteEditor::SiteEditor(std::filesystem::path start_dir, DownloadOptions download_options,
                       const ListImages& images, QWidget* parent)
    : QDialog(parent), start_dir_(std::move(start_dir)), download_options_(std::move(download_options)) {
  download_thread_.setMaxThreadCount(1);
  test_thread_.setMaxThreadCount(1);
  BuildWindow(images);
  StartNewSite(std::string());
}

SiteEditor::~SiteEditor() {
  // The threads use this window's members to the end of their work, which a stop makes short.
  stop_download_ = true;
  ++latest_;
  download_thread_.clear();
  test_thread_.clear();
  download_thread_.waitForDone();
  test_thread_.waitForDone();
}

void SiteEditor::BuildWindow(const ListImages& images) {
  setWindowTitle(Ui("サイト定義"));
  resize(980, 760);
  auto* validator = new OneLineValidator(this);
  auto line_edit = [&] {
    auto* edit = new QLineEdit();
    edit->setValidator(validator);
    edit->setMaxLength(std::numeric_limits<int>::max());
    connect(edit, &QLineEdit::textChanged, this, &SiteEditor::FieldsChanged);
    return edit;
  };

  category_edit_ = line_edit();
  site_edit_ = line_edit();
  file_name_label_ = new QLabel();
  file_name_label_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  connect(category_edit_, &QLineEdit::textChanged, this, &SiteEditor::NamesChanged);
  connect(site_edit_, &QLineEdit::textChanged, this, &SiteEditor::NamesChanged);

  for (std::size_t key = 0; key < kSiteKeys.size(); ++key) {
    if (key == kAncForm) {
      pattern_edit_ = new PatternEdit();
      connect(pattern_edit_, &QPlainTextEdit::textChanged, this, &SiteEditor::FieldsChanged);
      value_widgets_[key] = pattern_edit_;
    } else if (key == kEncode) {
      encode_box_ = new QComboBox();
      encode_box_->setEditable(true);
      encode_box_->setInsertPolicy(QComboBox::NoInsert);
      encode_box_->addItems(
          {QString(), QStringLiteral("euc"), QStringLiteral("jis"), QStringLiteral("utf8")});
      encode_box_->lineEdit()->setValidator(validator);
      connect(encode_box_, &QComboBox::currentTextChanged, this, &SiteEditor::FieldsChanged);
      value_widgets_[key] = encode_box_;
    } else {
      value_widgets_[key] = line_edit();
    }
  }
  connect(value_edit("url"), &QLineEdit::textChanged, this, &SiteEditor::UrlChanged);

  encode_meaning_ = new QLabel();
  url_message_ = new QLabel();
  url_message_->setStyleSheet(QStringLiteral("color: #c00000;"));
  http_button_ = new QPushButton(Ui("http://に変更"));
  connect(http_button_, &QPushButton::clicked, this, &SiteEditor::UseHttp);
  fetch_button_ = new QPushButton(Ui("ページを取得"));
  connect(fetch_button_, &QPushButton::clicked, this, &SiteEditor::FetchPage);
  charset_label_ = new QLabel();
  use_charset_button_ = new QPushButton(Ui("使う"));
  connect(use_charset_button_, &QPushButton::clicked, this, &SiteEditor::UseGuessedEncode);

  auto* form = new QGridLayout();
  auto label = [&](std::string_view text, QWidget* buddy) {
    auto* shown = new QLabel(Ui(text));
    shown->setBuddy(buddy);
    return shown;
  };
  auto value = [&](std::string_view key) { return value_widgets_[KeyIndex(key)]; };
  int row = 0;
  form->addWidget(label("カテゴリ(&C)", category_edit_), row, 0);
  form->addWidget(category_edit_, row, 1);
  form->addWidget(label("サイト名(&N)", site_edit_), row, 2);
  form->addWidget(site_edit_, row, 3);
  ++row;
  form->addWidget(new QLabel(Ui("ファイル名")), row, 0);
  form->addWidget(file_name_label_, row, 1, 1, 4);
  ++row;
  form->addWidget(label("ページのURL (url)", value("url")), row, 0);
  form->addWidget(value("url"), row, 1, 1, 3);
  form->addWidget(fetch_button_, row, 4);
  ++row;
  auto* url_line = new QHBoxLayout();
  url_line->addWidget(url_message_);
  url_line->addWidget(http_button_);
  url_line->addStretch(1);
  form->addLayout(url_line, row, 1, 1, 4);
  ++row;
  form->addWidget(label("開始マーカー (str_start)", value("str_start")), row, 0);
  form->addWidget(value("str_start"), row, 1);
  form->addWidget(label("終了マーカー (str_end)", value("str_end")), row, 2);
  form->addWidget(value("str_end"), row, 3, 1, 2);
  ++row;
  form->addWidget(label("見出しのパターン (anc_form)", pattern_edit_), row, 0, Qt::AlignTop);
  form->addWidget(pattern_edit_, row, 1, 1, 4);
  ++row;
  form->addWidget(label("見出し (captions)", value("captions")), row, 0);
  form->addWidget(value("captions"), row, 1);
  form->addWidget(label("備考 (remark)", value("remark")), row, 2);
  form->addWidget(value("remark"), row, 3, 1, 2);
  ++row;
  form->addWidget(label("リンク (jump_url)", value("jump_url")), row, 0);
  form->addWidget(value("jump_url"), row, 1);
  form->addWidget(label("文字コード (encode)", encode_box_), row, 2);
  auto* encode_line = new QHBoxLayout();
  encode_line->addWidget(encode_box_);
  encode_line->addWidget(encode_meaning_, 1);
  form->addLayout(encode_line, row, 3, 1, 2);
  ++row;
  auto* charset_line = new QHBoxLayout();
  charset_line->addWidget(charset_label_);
  charset_line->addWidget(use_charset_button_);
  charset_line->addStretch(1);
  form->addLayout(charset_line, row, 1, 1, 4);
  form->setColumnStretch(1, 1);
  form->setColumnStretch(3, 1);

  page_view_ = new PageView();
  rows_model_ = new TestedRowsModel(images, this);
  rows_view_ = new QTableView();
  rows_view_->setModel(rows_model_);
  rows_view_->setSelectionBehavior(QAbstractItemView::SelectRows);
  rows_view_->setSelectionMode(QAbstractItemView::SingleSelection);
  rows_view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  rows_view_->setWordWrap(false);
  rows_view_->setIconSize(QSize(kListImageSize, kListImageSize));
  rows_view_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  rows_view_->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
  rows_view_->horizontalHeader()->setDefaultSectionSize(160);
  rows_view_->horizontalHeader()->setStretchLastSection(true);
  connect(rows_view_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          &SiteEditor::ShowSelectedMatch);
  auto* results = new QSplitter(Qt::Vertical);
  results->addWidget(page_view_);
  results->addWidget(rows_view_);
  results->setStretchFactor(0, 3);
  results->setStretchFactor(1, 2);

  status_ = new QLabel();
  status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  // Texts from pages and patterns hold "<": never rich text.
  for (QLabel* shown : {file_name_label_, url_message_, charset_label_, encode_meaning_, status_}) {
    shown->setTextFormat(Qt::PlainText);
  }
  auto* save_button = new QPushButton(Ui("保存"));
  auto* cancel_button = new QPushButton(Ui("キャンセル"));
  // Enter in a field must neither save nor close.
  for (QPushButton* button : {fetch_button_, http_button_, use_charset_button_, save_button, cancel_button}) {
    button->setAutoDefault(false);
  }
  connect(save_button, &QPushButton::clicked, this, &SiteEditor::Save);
  connect(cancel_button, &QPushButton::clicked, this, &SiteEditor::reject);
  auto* buttons = new QHBoxLayout();
  buttons->addWidget(status_, 1);
  buttons->addWidget(save_button);
  buttons->addWidget(cancel_button);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(results, 1);
  layout->addLayout(buttons);

  debounce_ = new QTimer(this);
  debounce_->setSingleShot(true);
  debounce_->setInterval(kDebounceMs);
  connect(debounce_, &QTimer::timeout, this, &SiteEditor::StartTest);
}

void SiteEditor::OpenSiteFile(const std::string& file_name) {
  const std::string base = file_name.size() >= 4 ? file_name.substr(0, file_name.size() - 4) : file_name;
  const SiteFileName names = SplitSiteFileName(base);
  std::optional<SiteDefinition> definition;
  try {
    definition =
        ReadSiteDefinitionFile(PathInDirectory(start_dir_ / std::string(kSiteFolderName), file_name));
  } catch (const FileError& error) {
    Ask(BoxKind::kError, ToQString(error.what()));
  }
  Load(names.category, names.site, definition.value_or(SiteDefinition{}));
  if (definition) original_file_ = file_name;
}

void SiteEditor::StartNewSite(const std::string& category) {
  Load(category, std::string(), SiteDefinition{});
}

void SiteEditor::Load(const std::string& category, const std::string& site,
                      const SiteDefinition& definition) {
  original_file_.reset();
  loaded_ = definition;
  loaded_category_ = ToQString(category);
  loaded_site_ = ToQString(site);
  category_edit_->setText(loaded_category_);
  site_edit_->setText(loaded_site_);
  for (std::size_t key = 0; key < kSiteKeys.size(); ++key) {
    loaded_text_[key] = ToQString(definition.*kSiteKeys[key].value);
    SetValueText(key, loaded_text_[key]);
  }
  NamesChanged();
  UrlChanged();
  FieldsChanged();
}

QString SiteEditor::ValueText(std::size_t key) const {
  if (key == kAncForm) return pattern_edit_->toPlainText();
  if (key == kEncode) return encode_box_->currentText();
  return static_cast<QLineEdit*>(value_widgets_[key])->text();
}

void SiteEditor::SetValueText(std::size_t key, const QString& text) {
  if (key == kAncForm) {
    pattern_edit_->setPlainText(text);
  } else if (key == kEncode) {
    encode_box_->setCurrentText(text);
  } else {
    static_cast<QLineEdit*>(value_widgets_[key])->setText(text);
  }
}

QLineEdit* SiteEditor::value_edit(std::string_view key) const {
  const std::size_t index = KeyIndex(key);
  if (index >= kSiteKeys.size() || index == kAncForm || index == kEncode) return nullptr;
  return static_cast<QLineEdit*>(value_widgets_[index]);
}

QPlainTextEdit* SiteEditor::pattern_edit() const { return pattern_edit_; }

SiteDefinition SiteEditor::Definition() const {
  SiteDefinition site;
  for (std::size_t key = 0; key < kSiteKeys.size(); ++key) {
    const QString text = ValueText(key);
    site.*kSiteKeys[key].value = text == loaded_text_[key] ? loaded_.*kSiteKeys[key].value : ToSjis(text);
  }
  return site;
}

bool SiteEditor::Modified() const {
  if (category_edit_->text() != loaded_category_ || site_edit_->text() != loaded_site_) return true;
  for (std::size_t key = 0; key < kSiteKeys.size(); ++key) {
    if (ValueText(key) != loaded_text_[key]) return true;
  }
  return false;
}

std::optional<std::string> SiteEditor::FileName(QString* problem) const {
  auto refuse = [&](std::string_view why) -> std::optional<std::string> {
    if (problem != nullptr) *problem = Ui(why);
    return std::nullopt;
  };
  const QString category = category_edit_->text();
  const QString site = site_edit_->text();
  if (category.isEmpty()) return refuse("カテゴリを入力してください。");
  // The file name is split back at the category's first "_".
  if (category.contains(u'_')) return refuse("カテゴリに「_」は使えません。");
  if (site.isEmpty()) return refuse("サイト名を入力してください。");
  for (const QString& name : {category, site}) {
    if (std::any_of(name.begin(), name.end(),
                    [](QChar c) { return c == u'/' || c.category() == QChar::Other_Control; })) {
      return refuse("カテゴリとサイト名に「/」や制御文字は使えません。");
    }
  }
  const QString joined = category + u'_' + site + QStringLiteral(".txt");
  const QByteArray utf8 = joined.toUtf8();
  const auto sjis = Utf8ToCp932(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())));
  if (!sjis) return refuse("カテゴリとサイト名には、Shift_JISで書ける文字だけが使えます。");
  if (static_cast<std::size_t>(utf8.size()) > kMaxFileNameBytes)
    return refuse("カテゴリとサイト名が長すぎます。");
  return sjis;
}

void SiteEditor::NamesChanged() {
  QString problem;
  const auto name = FileName(&problem);
  file_name_label_->setText(name ? ToQString(*name) : problem);
  file_name_label_->setStyleSheet(name ? QString() : QStringLiteral("color: #c00000;"));
}

void SiteEditor::UrlChanged() {
  const QString url = value_edit("url")->text();
  const auto refused = RefusedUrlMessage(ToSjis(url));
  url_message_->setText(refused ? ToQString(*refused) : QString());
  url_message_->setVisible(refused.has_value());
  http_button_->setVisible(url.startsWith(QStringLiteral("https://")));
  fetch_button_->setEnabled(downloading_ || !refused);
}

void SiteEditor::UseHttp() {
  QLineEdit* url = value_edit("url");
  url->setText(QStringLiteral("http://") + url->text().mid(8));
}

void SiteEditor::FieldsChanged() {
  // Whatever is on its way now shows fields that are no more.
  ++latest_;
  if (pattern_edit_ != nullptr) pattern_edit_->MarkError(std::nullopt);
  if (encode_box_ != nullptr && encode_meaning_ != nullptr) {
    encode_meaning_->setText(EncodeMeaning(encode_box_->currentText()));
    ShowEncodeHint();
  }
  if (debounce_ != nullptr) debounce_->start();
}

void SiteEditor::ShowEncodeHint() {
  const bool shown = guess_.has_value();
  charset_label_->setVisible(shown);
  use_charset_button_->setVisible(shown && ToQString(guess_->encode) != encode_box_->currentText());
  if (!shown) return;
  static const QString kSources[] = {Ui("HTTPヘッダ"), Ui("ページの<meta>"), Ui("ページのバイト列")};
  const QString value = guess_->encode.empty() ? Ui("（空）") : ToQString(guess_->encode);
  charset_label_->setText(Ui("ページの文字コード: ") + ToQString(guess_->charset) + Ui("（") +
                          kSources[static_cast<int>(guess_->source)] + Ui("による）→ encode=") + value);
}

void SiteEditor::UseGuessedEncode() {
  if (guess_) encode_box_->setCurrentText(ToQString(guess_->encode));
}

void SiteEditor::FetchPage() {
  if (downloading_) {
    stop_download_ = true;
    return;
  }
  const std::string url = Definition().url;
  if (RefusedUrlMessage(url)) return;
  downloading_ = true;
  stop_download_ = false;
  fetch_button_->setText(Ui("取得を中止"));
  ShowStatus(Ui("接続中..."), false);
  download_thread_.start([this, url, options = download_options_, start_dir = start_dir_] {
    Downloader downloader;
    DownloadResult download = downloader.DownloadPage(url, options, [this] { return stop_download_.load(); });
    std::optional<EncodeGuess> guess = GuessEncode(download.page, download.content_type);
    // The logs as they are now; one that cannot be read classifies nothing.
    HistoryLines seen_log;
    HistoryLines visit_log;
    try {
      seen_log = LoadHistoryLines(start_dir, kSeenLogName);
      visit_log = LoadHistoryLines(start_dir, kVisitLogName);
    } catch (const FileError&) {
    }
    auto tester = std::make_shared<SiteTester>(std::move(download.page), std::move(download.address),
                                               std::move(seen_log), std::move(visit_log));
    QMetaObject::invokeMethod(
        this, [this, tester, guess] { PageArrived(tester, guess); }, Qt::QueuedConnection);
  });
}

void SiteEditor::PageArrived(std::shared_ptr<SiteTester> tester, std::optional<EncodeGuess> guess) {
  downloading_ = false;
  fetch_button_->setText(Ui("ページを取得"));
  UrlChanged();
  if (stop_download_) {
    ShowStatus(Ui("ページの取得を中止しました。"), true);
    return;
  }
  tester_ = std::move(tester);
  guess_ = std::move(guess);
  ShowEncodeHint();
  debounce_->stop();
  StartTest();
}

void SiteEditor::StartTest() {
  const std::uint64_t generation = ++latest_;
  if (!tester_) {
    shown_ = generation;
    ShowStatus(Ui("「ページを取得」でページを一度取得すると、変更のたびに取得の結果を試せます。"), false);
    return;
  }
  test_thread_.start([this, tester = tester_, site = Definition(), generation] {
    if (generation != latest_.load()) return;  // overtaken before it began
    auto test = std::make_shared<const SiteTest>(tester->Run(site));
    QMetaObject::invokeMethod(
        this, [this, test, generation] { ShowTest(test, generation); }, Qt::QueuedConnection);
  });
}

void SiteEditor::ShowTest(const std::shared_ptr<const SiteTest>& test, std::uint64_t generation) {
  if (generation != latest_.load()) return;
  shown_ = generation;
  test_ = test;
  if (page_view_->page() != test->page) page_view_->SetPage(test->page);
  page_view_->SetMatches(test->area, test->matches);

  const int current = rows_view_->currentIndex().row();
  const int scrolled = rows_view_->verticalScrollBar()->value();
  rows_model_->SetTest(test);
  if (current >= 0 && current < rows_model_->rowCount({})) {
    rows_view_->setCurrentIndex(rows_model_->index(current, 0));
    rows_view_->verticalScrollBar()->setValue(scrolled);
  }

  if (test->error) {
    std::optional<int> position;
    if (test->error_offset) {
      std::vector<std::uint32_t> starts;
      (void)Cp932ToUtf16Lossy(Definition().anc_form, &starts);
      const auto after = std::upper_bound(starts.begin(), starts.end(), *test->error_offset);
      position = static_cast<int>(std::max<std::ptrdiff_t>(after - starts.begin() - 1, 0));
    }
    pattern_edit_->MarkError(position);
    const QString where = position ? Ui("（") + QString::number(*position + 1) + Ui("文字目）") : QString();
    ShowStatus(Ui("パターンの誤り") + where + QStringLiteral(": ") + ToQString(*test->error), true);
    return;
  }
  QStringList missing;
  if (test->area.start_missing) missing << Ui("開始マーカー (str_start) が見つかりません");
  if (test->area.end_missing) missing << Ui("終了マーカー (str_end) が見つかりません");
  if (!test->rows.empty()) {
    const QString count = Ui("見出し ") + QString::number(test->rows.size()) + Ui("個");
    ShowStatus(missing.isEmpty() ? count : count + Ui("（") + missing.join(Ui("、")) + Ui("）"), false);
  } else if (tester_ && tester_->body().empty()) {
    ShowStatus(Ui("ページが空です（取得できませんでした）。"), true);
  } else if (test->page->empty()) {
    ShowStatus(Ui("encode で変換するとページが空になります。文字コードを確かめてください。"), true);
  } else if (!missing.isEmpty()) {
    ShowStatus(Ui("見出しなし: ") + missing.join(Ui("、")), true);
  } else {
    ShowStatus(Ui("見出しなし: パターンに一致するところがありません"), true);
  }
}

void SiteEditor::ShowSelectedMatch() { page_view_->ShowMatch(rows_view_->currentIndex().row()); }

void SiteEditor::ShowStatus(const QString& text, bool problem) {
  status_->setText(text);
  status_->setStyleSheet(problem ? QStringLiteral("color: #c00000;") : QString());
}

void SiteEditor::SetDebounce(int milliseconds) { debounce_->setInterval(milliseconds); }

bool SiteEditor::settled() const {
  return !debounce_->isActive() && !downloading_ && shown_ == latest_.load();
}

bool SiteEditor::Ask(BoxKind kind, const QString& text) {
  if (box_hook_) return box_hook_(kind, text);
  const QString caption = ProgramTitle(QCoreApplication::applicationFilePath());
  if (kind != BoxKind::kQuestion) {
    QMessageBox box(kind == BoxKind::kError ? QMessageBox::Critical : QMessageBox::Warning, caption, text,
                    QMessageBox::Ok, this);
    box.exec();
    return true;
  }
  QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No, this);
  box.setDefaultButton(QMessageBox::No);
  box.button(QMessageBox::Yes)->setText(Ui("はい(&Y)"));
  box.button(QMessageBox::No)->setText(Ui("いいえ(&N)"));
  return box.exec() == QMessageBox::Yes;
}

bool SiteEditor::Save() {
  QString problem;
  const std::optional<std::string> file_name = FileName(&problem);
  if (!file_name) {
    Ask(BoxKind::kWarning, problem);
    return false;
  }
  const std::filesystem::path folder = start_dir_ / std::string(kSiteFolderName);
  const std::filesystem::path target = PathInDirectory(folder, *file_name);
  std::optional<std::filesystem::path> source;
  if (original_file_) source = PathInDirectory(folder, *original_file_);
  std::error_code error;
  const bool same_file = source && (*source == target || std::filesystem::equivalent(*source, target, error));
  if (!same_file && std::filesystem::exists(target, error)) {
    if (!Ask(BoxKind::kQuestion,
             Ui("「") + ToQString(*file_name) + Ui("」はすでにあります。置き換えますか？"))) {
      return false;
    }
  }
  const bool renaming = source && !same_file && std::filesystem::exists(*source, error);
  if (renaming &&
      !Ask(BoxKind::kQuestion,
           Ui("サイト定義「") + ToQString(*original_file_) + Ui("」を「") + ToQString(*file_name) +
               Ui("」に名前を変更します。元のファイルは削除されます。よろしいですか？"))) {
    return false;
  }
  try {
    // The file that is edited gives the other lines and the encoding, also to a new name.
    std::string old_bytes;
    if (source) old_bytes = ReadFileBytes(*source).value_or(std::string());
    std::filesystem::create_directories(folder, error);
    ReplaceFileAtomically(target, SiteFileBytes(old_bytes, Definition()));
  } catch (const FileError& failure) {
    Ask(BoxKind::kError, ToQString(failure.what()));
    return false;
  }
  if (renaming && !std::filesystem::remove(*source, error)) {
    static const std::string kCannotRemove = Sjis("ファイル %s を削除できません");
    Ask(BoxKind::kError, ToQString(ReplaceAll(kCannotRemove, "%s", SjisPathText(*source))));
  }
  if (saved_hook_) saved_hook_(original_file_.value_or(std::string()), *file_name);
  accept();
  return true;
}

void SiteEditor::reject() {
  if (Modified() && !Ask(BoxKind::kQuestion, Ui("変更を保存せずに閉じますか？"))) return;
  QDialog::reject();
}

}  // namespace korinbo
