#pragma once
// The site tree's view of the health record: a warning mark on a site whose last outcome is a
// failure or no headlines, and on its root; the outcome and its time in the site's tooltip (on the
// root, its warned sites); and the background check's new count after each site's name, summed on
// each root. A delegate paints mark and count after the name, so that the node texts stay the names
// and the names keep their places.
#include <QDateTime>
#include <QString>

#include "korinbo/site_health.h"

class QTreeWidget;
class QTreeWidgetItem;

namespace korinbo {

class SiteHealthMarks {
 public:
  // In column 0: the new count of a node (absent: none), and true for a warning mark.
  static constexpr int kNewCountRole = Qt::UserRole + 16;
  static constexpr int kWarningRole = Qt::UserRole + 17;

  // Installs the delegate that paints the counts.
  SiteHealthMarks(QTreeWidget* tree, const SiteHealth& health);

  // Puts the record onto the tree as it is now: after every rebuild, fetch and check.
  void Apply();
  // The count on the favourites root (the tree's first root).
  int FavouritesNewCount() const;
  // The first favourite with new headlines, or none.
  QTreeWidgetItem* FirstFavouriteWithNews() const;

  // A tooltip's line for an outcome at a time: "見出しなし（…）  2026/12/08 21:33".
  static QString OutcomeLine(const FetchOutcome& outcome, const QDateTime& time);

 private:
  std::string FileNameOf(const QTreeWidgetItem* site) const;

  QTreeWidget* tree_;
  const SiteHealth& health_;
};

}  // namespace korinbo
