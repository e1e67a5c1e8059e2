#include "browser.h"

#include <glib.h>

#include <memory>

#include <QDir>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QProcess>
#include <QSortFilterProxyModel>
#include <QStringList>

#include "korinbo/codepage.h"
#include "qt_text.h"

namespace korinbo {
namespace {

// "実行ファイル": the dialog's filter text. On Windows the programs are the ".exe" files; elsewhere
// any file with the execute permission, which a name filter cannot tell, so a model filter does.
class ExecutableFilter : public QSortFilterProxyModel {
 public:
  using QSortFilterProxyModel::QSortFilterProxyModel;

 protected:
  bool filterAcceptsRow(int source_row, const QModelIndex& source_parent) const override {
    const auto* model = qobject_cast<const QFileSystemModel*>(sourceModel());
    if (model == nullptr) return true;
    return OffersAsBrowser(model->fileInfo(model->index(source_row, 0, source_parent)));
  }
};

struct StringVectorFree {
  void operator()(gchar** strings) const { g_strfreev(strings); }
};
struct ErrorFree {
  void operator()(GError* error) const { g_error_free(error); }
};

// GLib's split of a command line: the shell's quoting and escapes, and nothing expanded.
std::optional<QStringList> SplitCommandLine(const QString& command) {
  const QByteArray utf8 = command.toUtf8();
  int count = 0;
  gchar** words = nullptr;
  GError* error = nullptr;
  const bool parsed = g_shell_parse_argv(utf8.constData(), &count, &words, &error);
  const std::unique_ptr<gchar*, StringVectorFree> owned_words(words);
  const std::unique_ptr<GError, ErrorFree> owned_error(error);
  if (!parsed) return std::nullopt;
  QStringList split;
  for (int i = 0; i < count; ++i) split << QString::fromUtf8(words[i]);
  return split;
}

}  // namespace

std::optional<BrowserCommand> BrowserCommandFor(const QString& exec_name, const QString& link,
                                                const QString& working_directory) {
  if (exec_name.isEmpty()) return std::nullopt;
  const QFileInfo whole(QDir(working_directory), exec_name);
  if (whole.isFile()) return BrowserCommand{whole.filePath(), QStringList{link}};
  std::optional<QStringList> words = SplitCommandLine(exec_name);
  if (!words || words->isEmpty()) return std::nullopt;
  BrowserCommand command{words->takeFirst(), *words};
  command.arguments << link;
  return command;
}

bool StartBrowser(const QString& exec_name, const QString& link, const QString& working_directory) {
  const std::optional<BrowserCommand> command = BrowserCommandFor(exec_name, link, working_directory);
  if (!command || command->program.isEmpty()) return false;
  return QProcess::startDetached(command->program, command->arguments, working_directory);
}

QUrl LinkUrl(const QString& link) { return QUrl(link, QUrl::TolerantMode); }

bool OffersAsBrowser(const QFileInfo& entry) {
  if (entry.isDir()) return true;
#ifdef Q_OS_WIN
  return entry.suffix().compare(QStringLiteral("exe"), Qt::CaseInsensitive) == 0;
#else
  return entry.isFile() && entry.isExecutable();
#endif
}

std::optional<QString> AskForBrowserProgram(QWidget* parent) {
  static const QString kExecutables = ToQString(Sjis("実行ファイル"));
  QFileDialog dialog(parent, kExecutables);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
#ifdef Q_OS_WIN
  dialog.setNameFilter(kExecutables + QStringLiteral("(*.exe)"));
#else
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setNameFilter(kExecutables + QStringLiteral(" (*)"));
  dialog.setProxyModel(new ExecutableFilter(&dialog));
#endif
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList chosen = dialog.selectedFiles();
  if (chosen.isEmpty()) return std::nullopt;
  return chosen.front();
}

}  // namespace korinbo
