#pragma once
// A read-only view of a page as the fetch sees it, with the parts outside the headline area dimmed
// and every match of the pattern highlighted, its groups each in a colour of its own.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <QPlainTextEdit>

#include "korinbo/fetch.h"
#include "korinbo/pattern.h"

namespace korinbo {

class PageView : public QPlainTextEdit {
  Q_OBJECT

 public:
  explicit PageView(QWidget* parent = nullptr);

  // The page's Shift_JIS bytes; the view keeps them. Line ends (CR LF, a lone CR or LF) show as
  // line breaks and control bytes as their symbols, so that every byte has a place in the text; a
  // line longer than a thousand characters is shown cut into lines, each cut marked with "↩".
  void SetPage(std::shared_ptr<const std::string> page);
  const std::shared_ptr<const std::string>& page() const { return page_; }

  // The headline area and the matches, spans in the page's bytes, sorted as the search found them.
  void SetMatches(const HeadlineArea& area, std::vector<PatternMatch> matches);
  // The match shown as the current one and scrolled into view; -1 for none.
  void ShowMatch(int index);

  // The position in the text where a byte of the page is shown.
  int PositionOfByte(std::size_t byte) const;
  // The highlights laid over the text now (only those in and near the visible part).
  const QList<QTextEdit::ExtraSelection>& highlights() const { return highlights_; }

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void UpdateHighlights();

  std::shared_ptr<const std::string> page_;
  std::vector<int> position_of_byte_;  // one more than the page's bytes: its end
  HeadlineArea area_;
  std::vector<PatternMatch> matches_;
  int current_ = -1;
  QList<QTextEdit::ExtraSelection> highlights_;
};

}  // namespace korinbo
