#include "site_health_marks.h"

#include <algorithm>

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

constexpr int kGap = 4;
constexpr int kBadgePadding = 5;

// After the name: the warning mark, then the count as a rounded badge. The name gives them room.
class MarksDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    const int marks = MarksWidth(option, index);
    if (marks == 0) {
      QStyledItemDelegate::paint(painter, option, index);
      return;
    }
    QStyleOptionViewItem name = option;
    name.rect.setRight(option.rect.right() - marks);
    QStyledItemDelegate::paint(painter, name, index);

    int left = name.rect.right() + kGap;
    if (index.data(SiteHealthMarks::kWarningRole).toBool()) {
      const int size = IconSize(option);
      const QIcon icon = QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning);
      icon.paint(painter, QRect(left, option.rect.center().y() - size / 2, size, size));
      left += size + kGap;
    }
    const QString badge = Badge(index);
    if (badge.isEmpty()) return;
    const QRect area(left, option.rect.top() + 1, BadgeWidth(option, badge), option.rect.height() - 2);
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
    size.rwidth() += MarksWidth(option, index);
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
  static int IconSize(const QStyleOptionViewItem& option) { return std::min(16, option.fontMetrics.height()); }
  // The room the marks take after the name, gaps included; 0 without marks.
  static int MarksWidth(const QStyleOptionViewItem& option, const QModelIndex& index) {
    int width = 0;
    if (index.data(SiteHealthMarks::kWarningRole).toBool()) width += kGap + IconSize(option);
    const QString badge = Badge(index);
    if (!badge.isEmpty()) width += kGap + BadgeWidth(option, badge);
    return width;
  }
};

QDateTime ToDateTime(SiteHealth::Clock::time_point time) {
  const auto since_epoch = std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch());
  return QDateTime::fromMSecsSinceEpoch(since_epoch.count());
}

void SetMark(QTreeWidgetItem* item, bool warning, const QString& tooltip) {
  item->setData(0, SiteHealthMarks::kWarningRole, warning ? QVariant(true) : QVariant());
  item->setToolTip(0, tooltip);
}

void SetCount(QTreeWidgetItem* item, int count) {
  item->setData(0, SiteHealthMarks::kNewCountRole, count > 0 ? QVariant(count) : QVariant());
}

}  // namespace

SiteHealthMarks::SiteHealthMarks(QTreeWidget* tree, const SiteHealth& health) : tree_(tree), health_(health) {
  tree_->setItemDelegateForColumn(0, new MarksDelegate(tree_));
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
