#include "ui/qt/port_item_delegate.h"

#include <QApplication>
#include <QPainter>

namespace {

constexpr char kGap[] = "  ";

QColor Halfway(const QColor& a, const QColor& b) {
  return QColor((a.red() + b.red()) / 2, (a.green() + b.green()) / 2, (a.blue() + b.blue()) / 2);
}

}  // namespace

QColor PortItemDelegate::DimmedColour(const QStyleOptionViewItem& option) {
  const QPalette& p = option.palette;
  if (option.state & QStyle::State_Selected)
    return Halfway(p.color(QPalette::HighlightedText), p.color(QPalette::Highlight));
  return Halfway(p.color(QPalette::Text), p.color(QPalette::Base));
}

void PortItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                             const QModelIndex& index) const {
  QStyledItemDelegate::paint(painter, option, index);
  const QString adapter = index.data(kAdapterRole).toString();
  if (adapter.isEmpty()) return;

  QStyleOptionViewItem item = option;
  initStyleOption(&item, index);
  const QStyle* style = item.widget ? item.widget->style() : QApplication::style();
  // The style lays the entry's text out in this rectangle, inset by its text
  // margin; the adapter starts two blanks after the text's end.
  QRect area = style->subElementRect(QStyle::SE_ItemViewItemText, &item, item.widget);
  const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, item.widget) + 1;
  area.adjust(margin + item.fontMetrics.horizontalAdvance(item.text + kGap), 0, -margin, 0);
  if (area.width() <= 0) return;

  painter->save();
  painter->setFont(item.font);
  painter->setPen(DimmedColour(item));
  painter->drawText(area, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                    item.fontMetrics.elidedText(adapter, Qt::ElideRight, area.width()));
  painter->restore();
}

QSize PortItemDelegate::sizeHint(const QStyleOptionViewItem& option,
                                 const QModelIndex& index) const {
  QSize size = QStyledItemDelegate::sizeHint(option, index);
  const QString adapter = index.data(kAdapterRole).toString();
  if (!adapter.isEmpty()) size.rwidth() += option.fontMetrics.horizontalAdvance(kGap + adapter);
  return size;
}
