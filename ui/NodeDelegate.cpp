// Node colours and styles, and the in-place editor.
#include "NodeDelegate.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QHelpEvent>
#include <QLineEdit>
#include <QPainter>
#include <QToolTip>
#include <limits>
#include <string>

#include "IniTreeView.h"
#include "ShownModel.h"
#include "TextRules.h"
#include "document/Document.h"

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

QString TooltipText(const QString& text) {
    QString shown;
    int characters = 0;
    int line = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        // The second unit of a pair goes with the first.
        const bool second = text[i].isLowSurrogate() && i > 0 && text[i - 1].isHighSurrogate();
        if (!second) {
            if (characters == kTooltipLength) {
                shown += QChar(0x2026);
                break;
            }
            if (line == kTooltipLineLength) {
                shown += '\n';
                line = 0;
            }
            ++characters;
            ++line;
        }
        shown += text[i];
    }
    return shown;
}

namespace {

// How far the view stands the label of `index` in from the row's start.
int LabelIndent(const QStyleOptionViewItem& option, const QModelIndex& index) {
    const auto* view = qobject_cast<const IniTreeView*>(option.widget);
    return view != nullptr ? view->labelIndent(index) : 0;
}

}  // namespace

NodeDelegate::NodeDelegate(const ShownModel& model, QObject* parent)
    : QStyledItemDelegate(parent), model_(model) {}

void NodeDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                         const QModelIndex& index) const {
    const Node* node = model_.nodeOf(index);
    if (node == nullptr) return;
    const bool selected = option.state & QStyle::State_Selected;
    std::string scratch;
    const NodeLook look = NodeLookFor(node->level(), node->text(scratch), selected);
    QStyleOptionViewItem opt = nodeOption(option, index, look);
    const int indent = LabelIndent(option, index);
    if (opt.direction == Qt::RightToLeft) {
        opt.rect.setRight(opt.rect.right() - indent);
    } else {
        opt.rect.setLeft(opt.rect.left() + indent);
    }

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

QStyleOptionViewItem NodeDelegate::nodeOption(const QStyleOptionViewItem& option,
                                              const QModelIndex& index,
                                              const NodeLook& look) const {
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
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
    return opt;
}

bool NodeDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view,
                             const QStyleOptionViewItem& option, const QModelIndex& index) {
    const Node* node = model_.nodeOf(index);
    if (event->type() != QEvent::ToolTip || node == nullptr || view == nullptr)
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    std::string scratch;
    const QStyleOptionViewItem opt =
        nodeOption(option, index, NodeLookFor(node->level(), node->text(scratch), false));
    const QWidget* widget = opt.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    // The room the style gives the text, as far as the viewport shows it,
    // less the margins the style keeps on both sides of it.
    const QRect room = style->subElementRect(QStyle::SE_ItemViewItemText, &opt, widget)
                           .intersected(view->viewport()->rect());
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
    if (opt.fontMetrics.horizontalAdvance(opt.text) <= room.width() - 2 * margin) {
        QToolTip::hideText();
        return true;
    }
    QToolTip::showText(event->globalPos(), TooltipText(opt.text), view->viewport(), option.rect);
    return true;
}

QSize NodeDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setHeight(18);
    size.rwidth() += LabelIndent(option, index);
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
