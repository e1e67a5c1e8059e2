#pragma once
// The window "サイト定義": a site definition's category, site name and eight values; its page,
// downloaded once and kept; and, after every change, what the fetch would make of that page: the
// page with the headline area and the matches marked, the rows, and why there are none.
#include <array>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include <QDialog>
#include <QString>
#include <QThreadPool>

#include "korinbo/convert.h"
#include "korinbo/download.h"
#include "korinbo/site_definition.h"
#include "korinbo/site_tester.h"
#include "list_images.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTableView;
class QTimer;

namespace korinbo {

class PageView;
class PatternEdit;
class TestedRowsModel;

class SiteEditor : public QDialog {
  Q_OBJECT

 public:
  // The start directory (whose site folder the definitions live in), the download settings of the
  // fetch (proxy mode and server), and the headline list's images.
  SiteEditor(std::filesystem::path start_dir, DownloadOptions download_options, const ListImages& images,
             QWidget* parent = nullptr);
  ~SiteEditor() override;

  // A site file of the site folder, by its Shift_JIS name: its names and values. A file that does
  // not exist gives its names and empty values, and is saved as a new one.
  void OpenSiteFile(const std::string& file_name);
  // A new definition in a category (empty for none).
  void StartNewSite(const std::string& category);

  // "ページを取得": downloads `url` once, on a thread of its own, or stops the download running.
  void FetchPage();
  // "保存": true when the file was written.
  bool Save();

  // The definition as the fields hold it, in Shift_JIS; a field left as it was read keeps the
  // file's bytes.
  SiteDefinition Definition() const;
  // The file name that the category and the site name make, or why they make none.
  std::optional<std::string> FileName(QString* problem = nullptr) const;

  // Replaceable for tests: the message boxes. A question gives true for "はい".
  enum class BoxKind { kWarning, kError, kQuestion };
  using BoxHook = std::function<bool(BoxKind kind, const QString& text)>;
  void SetBoxHook(BoxHook hook) { box_hook_ = std::move(hook); }
  // After a save: the file that was edited (empty for a new one) and the file written.
  using SavedHook = std::function<void(const std::string& old_file, const std::string& new_file)>;
  void SetSavedHook(SavedHook hook) { saved_hook_ = std::move(hook); }

  // How long a change waits for the next one before it is run (150 ms); shorter for the benchmark.
  void SetDebounce(int milliseconds);

  // The parts of the window, for tests.
  QLineEdit* category_edit() const { return category_edit_; }
  QLineEdit* site_edit() const { return site_edit_; }
  // The one-line field of a key other than anc_form and encode.
  QLineEdit* value_edit(std::string_view key) const;
  QPlainTextEdit* pattern_edit() const;
  QComboBox* encode_box() const { return encode_box_; }
  QLabel* file_name_label() const { return file_name_label_; }
  QLabel* url_message_label() const { return url_message_; }
  QPushButton* http_button() const { return http_button_; }
  QPushButton* fetch_button() const { return fetch_button_; }
  QLabel* charset_label() const { return charset_label_; }
  QPushButton* use_charset_button() const { return use_charset_button_; }
  QLabel* status_label() const { return status_; }
  PageView* page_view() const { return page_view_; }
  QTableView* rows_view() const { return rows_view_; }
  // True when the page and the rows show the fields as they are now: no change waits for its run
  // and no run or download is on its way.
  bool settled() const;

 protected:
  void reject() override;

 private:
  void BuildWindow(const ListImages& images);
  void Load(const std::string& category, const std::string& site, const SiteDefinition& definition);
  QString ValueText(std::size_t key) const;
  void SetValueText(std::size_t key, const QString& text);
  bool Modified() const;
  bool Ask(BoxKind kind, const QString& text);

  void FieldsChanged();
  void NamesChanged();
  void UrlChanged();
  void UseHttp();
  void UseGuessedEncode();
  void ShowEncodeHint();
  void PageArrived(std::shared_ptr<SiteTester> tester, std::optional<EncodeGuess> guess);
  void StartTest();
  void ShowTest(const std::shared_ptr<const SiteTest>& test, std::uint64_t generation);
  void ShowSelectedMatch();
  void ShowStatus(const QString& text, bool problem);

  std::filesystem::path start_dir_;
  DownloadOptions download_options_;
  std::optional<std::string> original_file_;  // the file the definition was read from
  SiteDefinition loaded_;                     // its values as read
  std::array<QString, kSiteKeys.size()> loaded_text_;
  QString loaded_category_;
  QString loaded_site_;

  QLineEdit* category_edit_ = nullptr;
  QLineEdit* site_edit_ = nullptr;
  QLabel* file_name_label_ = nullptr;
  std::array<QWidget*, kSiteKeys.size()> value_widgets_{};
  PatternEdit* pattern_edit_ = nullptr;
  QComboBox* encode_box_ = nullptr;
  QLabel* encode_meaning_ = nullptr;
  QLabel* url_message_ = nullptr;
  QPushButton* http_button_ = nullptr;
  QPushButton* fetch_button_ = nullptr;
  QLabel* charset_label_ = nullptr;
  QPushButton* use_charset_button_ = nullptr;
  PageView* page_view_ = nullptr;
  QTableView* rows_view_ = nullptr;
  TestedRowsModel* rows_model_ = nullptr;
  QLabel* status_ = nullptr;
  QTimer* debounce_ = nullptr;

  // The download and the runs each have one thread: a run waits for the one before it, and a run
  // that a newer change has overtaken is skipped or its result dropped.
  QThreadPool download_thread_;
  QThreadPool test_thread_;
  std::atomic<bool> stop_download_{false};
  bool downloading_ = false;
  std::shared_ptr<SiteTester> tester_;
  std::optional<EncodeGuess> guess_;
  std::atomic<std::uint64_t> latest_{0};  // the newest change's number
  std::uint64_t shown_ = 0;               // the number of the change the window shows
  std::shared_ptr<const SiteTest> test_;

  BoxHook box_hook_;
  SavedHook saved_hook_;
};

}  // namespace korinbo
