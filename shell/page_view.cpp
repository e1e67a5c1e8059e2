#include "page_view.h"

#include <algorithm>
#include <array>
#include <utility>

#include <QScrollBar>
#include <QTextBlock>

#include "korinbo/codepage.h"

namespace korinbo {
namespace {

constexpr qsizetype kLongLine = 1000;
constexpr qsizetype kCutLookBack = 200;
constexpr char16_t kCutMark = u'\u21a9';  // "↩"

const QColor kDimmed(0x9a, 0x9a, 0x9a);
const QColor kMatch(0xff, 0xf1, 0xa8);
const QColor kCurrentMatch(0xff, 0xb8, 0x4d);
// One colour per group, again from the first after the last.
const std::array<QColor, 5> kGroups = {QColor(0xb8, 0xdc, 0xff), QColor(0xc4, 0xf0, 0xb8),
                                       QColor(0xff, 0xcc, 0xe0), QColor(0xdc, 0xcc, 0xff),
                                       QColor(0xb8, 0xf0, 0xe8)};

QTextEdit::ExtraSelection Selection(QTextDocument* document, int from, int to,
                                    const QTextCharFormat& format) {
  QTextEdit::ExtraSelection selection;
  selection.cursor = QTextCursor(document);
  selection.cursor.setPosition(from);
  selection.cursor.setPosition(to, QTextCursor::KeepAnchor);
  selection.format = format;
  return selection;
}

QTextCharFormat Background(const QColor& colour) {
  QTextCharFormat format;
  format.setBackground(colour);
  return format;
}

}  // namespace

PageView::PageView(QWidget* parent) : QPlainTextEdit(parent) {
  setReadOnly(true);
  setUndoRedoEnabled(false);
  setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  connect(verticalScrollBar(), &QScrollBar::valueChanged, this, &PageView::UpdateHighlights);
  connect(horizontalScrollBar(), &QScrollBar::valueChanged, this, &PageView::UpdateHighlights);
}

void PageView::SetPage(std::shared_ptr<const std::string> page) {
  page_ = std::move(page);
  matches_.clear();
  current_ = -1;
  area_ = HeadlineArea{0, page_ ? page_->size() : 0, false, false};
  const std::string_view bytes = page_ ? std::string_view(*page_) : std::string_view();
  std::vector<std::uint32_t> starts;
  const std::u16string units = Cp932ToUtf16Lossy(bytes, &starts);
  QString text;
  text.reserve(static_cast<qsizetype>(units.size()));
  position_of_byte_.assign(bytes.size() + 1, 0);
  qsizetype line_start = 0;
  for (std::size_t k = 0; k < units.size(); ++k) {
    const char16_t unit = units[k];
    const bool line_end = unit == u'\r' || unit == u'\n';
    // A line of a minified page may be a megabyte long, which the text widget lays out only slowly:
    // long lines are shown cut, after a ">" where there is one, each cut marked.
    const qsizetype line_length = text.size() - line_start;
    if (!line_end &&
        (line_length >= kLongLine || (line_length >= kLongLine - kCutLookBack && text.back() == u'>'))) {
      text += kCutMark;
      text += u'\n';
      line_start = text.size();
    }
    const std::size_t end = k + 1 < units.size() ? starts[k + 1] : bytes.size();
    std::fill(position_of_byte_.begin() + starts[k],
              position_of_byte_.begin() + static_cast<std::ptrdiff_t>(end), static_cast<int>(text.size()));
    // The CR of a CR LF shows with its LF as one line break.
    if (unit == u'\r' && k + 1 < units.size() && units[k + 1] == u'\n') continue;
    if (line_end) {
      text += u'\n';
      line_start = text.size();
    } else if (unit < 0x20 && unit != u'\t') {
      text += QChar(static_cast<char16_t>(0x2400 + unit));  // the control's symbol
    } else if (unit == 0x7F) {
      text += QChar(u'\u2421');
    } else {
      text += QChar(unit);
    }
  }
  position_of_byte_.back() = static_cast<int>(text.size());
  setPlainText(text);
  UpdateHighlights();
}

void PageView::SetMatches(const HeadlineArea& area, std::vector<PatternMatch> matches) {
  area_ = area;
  matches_ = std::move(matches);
  current_ = -1;
  UpdateHighlights();
}

void PageView::ShowMatch(int index) {
  current_ = index >= 0 && static_cast<std::size_t>(index) < matches_.size() ? index : -1;
  if (current_ >= 0) {
    QTextCursor cursor(document());
    cursor.setPosition(PositionOfByte(matches_[static_cast<std::size_t>(current_)].start()));
    setTextCursor(cursor);
    centerCursor();
  }
  UpdateHighlights();
}

int PageView::PositionOfByte(std::size_t byte) const {
  if (position_of_byte_.empty()) return 0;
  return position_of_byte_[std::min(byte, position_of_byte_.size() - 1)];
}

void PageView::resizeEvent(QResizeEvent* event) {
  QPlainTextEdit::resizeEvent(event);
  UpdateHighlights();
}

void PageView::UpdateHighlights() {
  highlights_.clear();
  if (page_ && !page_->empty()) {
    // Only the blocks on screen get highlights: a page of a megabyte has thousands of matches.
    const QTextBlock top = cursorForPosition(QPoint(0, 0)).block();
    const QTextBlock bottom = cursorForPosition(QPoint(viewport()->width(), viewport()->height())).block();
    QTextDocument* doc = document();
    const int first = top.position();
    const int last = std::min(bottom.position() + bottom.length(), doc->characterCount() - 1);

    QTextCharFormat dimmed;
    dimmed.setForeground(kDimmed);
    const int area_begin = PositionOfByte(area_.begin);
    const int area_end = PositionOfByte(area_.end);
    if (area_begin > first) highlights_.append(Selection(doc, first, std::min(area_begin, last), dimmed));
    if (area_end < last) highlights_.append(Selection(doc, std::max(area_end, first), last, dimmed));

    // Matches follow one another without overlap: the first one that ends on screen, and on.
    auto it = std::partition_point(matches_.begin(), matches_.end(), [&](const PatternMatch& match) {
      return PositionOfByte(match.end()) < first;
    });
    for (; it != matches_.end() && PositionOfByte(it->start()) <= last; ++it) {
      const bool current = current_ >= 0 && it == matches_.begin() + current_;
      highlights_.append(Selection(doc, PositionOfByte(it->start()), PositionOfByte(it->end()),
                                   Background(current ? kCurrentMatch : kMatch)));
      for (std::size_t group = 1; group < it->groups.size(); ++group) {
        const MatchSpan& span = it->groups[group];
        if (!span.matched()) continue;
        highlights_.append(Selection(doc, PositionOfByte(static_cast<std::size_t>(span.start)),
                                     PositionOfByte(static_cast<std::size_t>(span.end)),
                                     Background(kGroups[(group - 1) % kGroups.size()])));
      }
    }
  }
  setExtraSelections(highlights_);
}

}  // namespace korinbo
