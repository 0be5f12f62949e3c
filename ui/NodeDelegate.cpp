// Node colours and styles, and the in-place editor.
#include "NodeDelegate.h"

#include <QApplication>
#include <QLineEdit>
#include <QPainter>
#include <limits>

#include "Document.h"
#include "DocumentModel.h"
#include "TextRules.h"

namespace keyloft::ui {

QColor ColourOf(NodeColour colour) {
    switch (colour) {
        case NodeColour::Black:
            return QColor(0, 0, 0);
        case NodeColour::Red:
            return QColor(255, 0, 0);
        case NodeColour::Blue:
            return QColor(0, 0, 255);
        case NodeColour::Green:
            return QColor(0, 128, 0);
        case NodeColour::Purple:
            return QColor(128, 0, 128);
    }
    return {};
}

NodeDelegate::NodeDelegate(const DocumentModel& model, QObject* parent)
    : QStyledItemDelegate(parent), model_(model) {}

void NodeDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                         const QModelIndex& index) const {
    const Node* node = model_.nodeOf(index);
    if (node == nullptr) return;
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const bool selected = opt.state & QStyle::State_Selected;
    const NodeLook look = NodeLookFor(node->level(), node->text(), selected);

    opt.state &= ~(QStyle::State_Selected | QStyle::State_HasFocus | QStyle::State_MouseOver);
    opt.font.setBold(look.style == NodeFontStyle::Bold);
    opt.font.setItalic(look.style == NodeFontStyle::Italic);
    opt.fontMetrics = QFontMetrics(opt.font);
    const QColor text = ColourOf(look.colour);
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        opt.palette.setColor(group, QPalette::Text, text);
        opt.palette.setColor(group, QPalette::WindowText, text);
    }
    opt.backgroundBrush = Qt::NoBrush;

    const QWidget* widget = opt.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    if (look.background == NodeBackground::Silver) {
        // Only the label's area, as wide as its text.
        QRect label = style->subElementRect(QStyle::SE_ItemViewItemText, &opt, widget);
        const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
        label.setWidth(
            std::min(label.width(), opt.fontMetrics.horizontalAdvance(opt.text) + 2 * margin));
        painter->fillRect(label, QColor(192, 192, 192));
    }
    style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);
}

QSize NodeDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setHeight(18);
    return size;
}

QWidget* NodeDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                                    const QModelIndex& index) const {
    QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
    editor->setObjectName("nodeEditor");
    // A line edit cuts its text at 32767 characters by default; a line of
    // the document may be of any length.
    if (auto* line = qobject_cast<QLineEdit*>(editor))
        line->setMaxLength(std::numeric_limits<int>::max());
    return editor;
}

void NodeDelegate::setModelData(QWidget* editor, QAbstractItemModel* model,
                                const QModelIndex& index) const {
    auto* line = qobject_cast<QLineEdit*>(editor);
    if (line == nullptr) return QStyledItemDelegate::setModelData(editor, model, index);
    model->setData(index, FirstLine(line->text()), Qt::EditRole);
}

}  // namespace keyloft::ui
