#pragma once
// Finding the site tree's nodes by their shown texts, for the window's tests.
#include <QString>
#include <QTreeWidget>

namespace korinbo::test {

// The child of the first root with that text, or the root itself for an empty child text.
inline QTreeWidgetItem* Find(const QTreeWidget* tree, const QString& root_text, const QString& child_text) {
  for (int i = 0; i < tree->topLevelItemCount(); ++i) {
    QTreeWidgetItem* root = tree->topLevelItem(i);
    if (root->text(0) != root_text) continue;
    if (child_text.isEmpty()) return root;
    for (int j = 0; j < root->childCount(); ++j) {
      if (root->child(j)->text(0) == child_text) return root->child(j);
    }
  }
  return nullptr;
}

}  // namespace korinbo::test
