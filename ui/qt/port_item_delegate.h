// PortItemDelegate: draws the entries of the port dialog's opened list: each
// entry's text (such as COM33) as the list draws it, then, dimmed and two
// blanks further on, the adapter behind the port (such as FT232R USB UART),
// which the item holds under kAdapterRole. The entry's text stays as it is,
// since "Update" reads the port number from it; the closed list shows the
// text alone.
//
// Threads: the window thread.
#ifndef VELMORA_UI_QT_PORT_ITEM_DELEGATE_H_
#define VELMORA_UI_QT_PORT_ITEM_DELEGATE_H_

#include <QColor>
#include <QStyledItemDelegate>

constexpr int kAdapterRole = Qt::UserRole + 1;

class PortItemDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;
  // Wide enough for the entry and its adapter.
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

  // The adapter's colour: halfway between the entry's text colour and its
  // background, for a selected entry too.
  static QColor DimmedColour(const QStyleOptionViewItem& option);
};

#endif  // VELMORA_UI_QT_PORT_ITEM_DELEGATE_H_
