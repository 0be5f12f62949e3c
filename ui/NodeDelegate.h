// Draws each node in the colour and font style of its level and text.
#pragma once

#include <QColor>
#include <QStyledItemDelegate>

#include "document/Rules.h"

namespace keyloft::ui {

class ShownModel;

QColor ColourOf(NodeColour colour);

// The tooltip of a node the tree shows cut: its whole text up to
// kTooltipLength characters, "…" for the rest, in lines of
// kTooltipLineLength characters (a tooltip does not wrap a plain text, and
// a long line seldom has blanks to wrap at). A character of two UTF-16 units
// is never split.
constexpr int kTooltipLength = 1000;
constexpr int kTooltipLineLength = 100;
QString TooltipText(const QString& text);

// The look comes from NodeLookFor on every paint, so a node takes its new
// colour as soon as it is drawn again. A selected node's label stands on
// silver with its own text colour, with or without focus. The editor it
// opens keeps a text to one line. A node whose text the view cuts with "…"
// shows its whole text in a tooltip. The view's rows are a flat list: the
// label stands in by the node's level, as a tree view would indent it.
class NodeDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    explicit NodeDelegate(const ShownModel& model, QObject* parent = nullptr);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    // Every row is 18 pixels high.
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model,
                      const QModelIndex& index) const override;
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;

private:
    // The option `node` is drawn with: its text, font style and colours.
    QStyleOptionViewItem nodeOption(const QStyleOptionViewItem& option, const QModelIndex& index,
                                    const NodeLook& look) const;

    const ShownModel& model_;
};

}  // namespace keyloft::ui
