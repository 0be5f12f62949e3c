// Draws each node in the colour and font style of its level and text.
#pragma once

#include <QColor>
#include <QStyledItemDelegate>

#include "Rules.h"

namespace keyloft::ui {

class DocumentModel;

QColor ColourOf(NodeColour colour);

// The look comes from NodeLookFor on every paint, so a node takes its new
// colour as soon as it is drawn again. A selected node's label stands on
// silver with its own text colour, with or without focus. The editor it
// opens keeps a text to one line.
class NodeDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    explicit NodeDelegate(const DocumentModel& model, QObject* parent = nullptr);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    // Every row is 18 pixels high.
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model,
                      const QModelIndex& index) const override;

private:
    const DocumentModel& model_;
};

}  // namespace keyloft::ui
