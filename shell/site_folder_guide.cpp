#include "site_folder_guide.h"

#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QPalette>
#include <QTreeWidget>

#include "korinbo/site_tree.h"
#include "qt_text.h"

namespace korinbo {
namespace {

constexpr int kMargin = 8;

// The site-definition guide of an installed program, which lies in the package's documentation.
QString InstalledGuide() {
  const QString guide = QDir(QCoreApplication::applicationDirPath())
                            .absoluteFilePath(QStringLiteral("../share/doc/korinbo/site-definitions.md"));
  return QFileInfo::exists(guide) ? QDir::cleanPath(guide) : QString();
}

}  // namespace

QString SiteFolderGuide::GuideText(const std::filesystem::path& start_dir) {
  QString text = QString::fromUtf8(
                     "サイト定義がありません。\n\n"
                     "サイトフォルダ: %1\n\n"
                     "サイトを追加するには、このフォルダに「カテゴリ_サイト名.txt」という名前で定義ファイルを置き、"
                     "「ファイル」メニューの「ニュースサイトの再読込」(Ctrl+R) を選んでください。")
                     .arg(PathToQString(start_dir / std::string(kSiteFolderName)));
  if (const QString guide = InstalledGuide(); !guide.isEmpty()) {
    text += QString::fromUtf8("\n定義の書き方: %1").arg(guide);
  }
  return text;
}

SiteFolderGuide::SiteFolderGuide(QTreeWidget* headline_list, QTreeWidget* site_tree,
                                 const std::filesystem::path& start_dir)
    : QLabel(headline_list->viewport()), list_(headline_list), tree_(site_tree), start_dir_(start_dir) {
  setObjectName(QStringLiteral("SiteFolderGuide"));
  setWordWrap(true);
  setAlignment(Qt::AlignLeft | Qt::AlignTop);
  // Greyed, so that it never reads as a headline.
  QPalette palette = this->palette();
  palette.setColor(QPalette::WindowText, palette.color(QPalette::Disabled, QPalette::WindowText));
  setPalette(palette);
  hide();

  headline_list->viewport()->installEventFilter(this);
  for (QTreeWidget* watched : {headline_list, site_tree}) {
    QAbstractItemModel* model = watched->model();
    connect(model, &QAbstractItemModel::rowsInserted, this, &SiteFolderGuide::ScheduleUpdate);
    connect(model, &QAbstractItemModel::rowsRemoved, this, &SiteFolderGuide::ScheduleUpdate);
    connect(model, &QAbstractItemModel::modelReset, this, &SiteFolderGuide::ScheduleUpdate);
  }
  ScheduleUpdate();  // once the window has filled its tree
}

bool SiteFolderGuide::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Resize && list_ && watched == list_->viewport()) Update();
  return QLabel::eventFilter(watched, event);
}

// A tree being filled changes row by row; one look at the end is enough.
void SiteFolderGuide::ScheduleUpdate() {
  if (update_pending_) return;
  update_pending_ = true;
  QMetaObject::invokeMethod(
      this,
      [this] {
        update_pending_ = false;
        Update();
      },
      Qt::QueuedConnection);
}

void SiteFolderGuide::Update() {
  if (!list_ || !tree_) return;
  const bool wanted = list_->topLevelItemCount() == 0 && tree_->topLevelItemCount() <= 1;
  if (wanted && text().isEmpty()) {
    // Only now: selectable text makes the label a whole text document, which most windows never show.
    setText(GuideText(start_dir_));
    setTextInteractionFlags(Qt::TextSelectableByMouse);
  }
  if (wanted) {
    const QRect area = list_->viewport()->rect().adjusted(kMargin, kMargin, -kMargin, -kMargin);
    setGeometry(area.left(), area.top(), area.width(), heightForWidth(area.width()));
  }
  setVisible(wanted);
}

}  // namespace korinbo
