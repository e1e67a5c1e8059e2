#include "browser.h"

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

}  // namespace

bool StartBrowser(const QString& program, const QString& link, const QString& working_directory) {
  if (program.isEmpty()) return false;
  return QProcess::startDetached(program, QStringList{link}, working_directory);
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
