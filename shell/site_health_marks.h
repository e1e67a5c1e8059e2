#pragma once
// The site tree's view of the health record: a warning icon on a site whose last outcome is a
// failure or no headlines, and on its root; the outcome and its time in the site's tooltip (on the
// root, its warned sites); and the background check's new count beside each site's name, summed on
// each root, painted by a delegate so that the node texts stay the names.
#include <QDateTime>
#include <QString>

#include "korinbo/site_health.h"

class QTreeWidget;
class QTreeWidgetItem;

namespace korinbo {

class SiteHealthMarks {
 public:
  // The new count of a node (0 or absent: none) in column 0.
  static constexpr int kNewCountRole = Qt::UserRole + 16;

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
