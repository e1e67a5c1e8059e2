#include "site_health_marks.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTreeWidget>

#include "korinbo/site_tree.h"
#include "main_window.h"
#include "qt_text.h"

namespace korinbo {
namespace {

constexpr int kBadgeGap = 4;
constexpr int kBadgePadding = 5;

// The count as a rounded badge at the right end of the name's cell; the name gives it room.
class NewCountDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    const QString badge = Badge(index);
    if (badge.isEmpty()) {
      QStyledItemDelegate::paint(painter, option, index);
      return;
    }
    const int width = BadgeWidth(option, badge);
    QStyleOptionViewItem name = option;
    name.rect.setRight(option.rect.right() - width - kBadgeGap);
    QStyledItemDelegate::paint(painter, name, index);

    const QRect area(name.rect.right() + kBadgeGap, option.rect.top() + 1, width, option.rect.height() - 2);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(Qt::NoPen);
    painter->setBrush(option.palette.color(QPalette::Highlight));
    painter->drawRoundedRect(area, area.height() / 2.0, area.height() / 2.0);
    painter->setPen(option.palette.color(QPalette::HighlightedText));
    painter->setFont(option.font);
    painter->drawText(area, Qt::AlignCenter, badge);
    painter->restore();
  }

  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    const QString badge = Badge(index);
    if (!badge.isEmpty()) size.rwidth() += BadgeWidth(option, badge) + kBadgeGap;
    return size;
  }

 private:
  static QString Badge(const QModelIndex& index) {
    const int count = index.data(SiteHealthMarks::kNewCountRole).toInt();
    return count > 0 ? QString::number(count) : QString();
  }
  static int BadgeWidth(const QStyleOptionViewItem& option, const QString& badge) {
    return option.fontMetrics.horizontalAdvance(badge) + 2 * kBadgePadding;
  }
};

QDateTime ToDateTime(SiteHealth::Clock::time_point time) {
  const auto since_epoch = std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch());
  return QDateTime::fromMSecsSinceEpoch(since_epoch.count());
}

void SetMark(QTreeWidgetItem* item, bool warning, const QString& tooltip) {
  item->setIcon(0, warning ? QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning) : QIcon());
  item->setToolTip(0, tooltip);
}

void SetCount(QTreeWidgetItem* item, int count) {
  item->setData(0, SiteHealthMarks::kNewCountRole, count > 0 ? QVariant(count) : QVariant());
}

}  // namespace

SiteHealthMarks::SiteHealthMarks(QTreeWidget* tree, const SiteHealth& health) : tree_(tree), health_(health) {
  tree_->setItemDelegateForColumn(0, new NewCountDelegate(tree_));
}

QString SiteHealthMarks::OutcomeLine(const FetchOutcome& outcome, const QDateTime& time) {
  return ToQString(outcome.Text()) + QStringLiteral("  ") + time.toString(QStringLiteral("yyyy/MM/dd HH:mm"));
}

std::string SiteHealthMarks::FileNameOf(const QTreeWidgetItem* site) const {
  return SiteFileNameOf(MainWindow::ItemText(site->parent()), MainWindow::ItemText(site));
}

void SiteHealthMarks::Apply() {
  for (int r = 0; r < tree_->topLevelItemCount(); ++r) {
    QTreeWidgetItem* root = tree_->topLevelItem(r);
    int sum = 0;
    QStringList warned;
    for (int c = 0; c < root->childCount(); ++c) {
      QTreeWidgetItem* site = root->child(c);
      const SiteHealth::Entry* entry = health_.Find(FileNameOf(site));
      if (entry == nullptr) {
        SetMark(site, false, QString());
        SetCount(site, 0);
        continue;
      }
      const QString line = OutcomeLine(entry->outcome, ToDateTime(entry->time));
      SetMark(site, entry->outcome.IsWarning(), line);
      if (entry->outcome.IsWarning()) warned << site->text(0) + QStringLiteral(": ") + line;
      const int count = entry->new_count.value_or(0);
      SetCount(site, count);
      sum += count;
    }
    SetMark(root, !warned.isEmpty(), warned.join(QLatin1Char('\n')));
    SetCount(root, sum);
  }
}

int SiteHealthMarks::FavouritesNewCount() const {
  const QTreeWidgetItem* favourites = tree_->topLevelItem(0);
  return favourites != nullptr ? favourites->data(0, kNewCountRole).toInt() : 0;
}

QTreeWidgetItem* SiteHealthMarks::FirstFavouriteWithNews() const {
  QTreeWidgetItem* favourites = tree_->topLevelItem(0);
  if (favourites == nullptr) return nullptr;
  for (int c = 0; c < favourites->childCount(); ++c) {
    if (health_.NewCount(FileNameOf(favourites->child(c))) > 0) return favourites->child(c);
  }
  return nullptr;
}

}  // namespace korinbo
