#pragma once
// A short guide shown inside the empty headline list while the site folder holds no site: where
// the folder is and how to add a site. It is a label over the list's viewport, not a row of the
// list, so that no fetch, selection, count or log ever sees it.
#include <filesystem>

#include <QLabel>
#include <QPointer>

class QTreeWidget;

namespace korinbo {

class SiteFolderGuide : public QLabel {
  Q_OBJECT

 public:
  // Watches both trees; shown while the list is empty and the site tree has no category (its
  // first root, the favourites, is always there). A child of the list's viewport.
  SiteFolderGuide(QTreeWidget* headline_list, QTreeWidget* site_tree, const std::filesystem::path& start_dir);

  // The guide's text for a start directory.
  static QString GuideText(const std::filesystem::path& start_dir);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void ScheduleUpdate();
  void Update();

  QPointer<QTreeWidget> list_;
  QPointer<QTreeWidget> tree_;
  std::filesystem::path start_dir_;
  bool update_pending_ = false;
};

}  // namespace korinbo
