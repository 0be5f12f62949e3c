// The item model the tree view shows: a view of the core document tree.
#pragma once

#include <QAbstractItemModel>

#include "document/TreeObserver.h"

namespace keyloft {
class Document;
class Node;
}  // namespace keyloft

namespace keyloft::ui {

// Every index carries its core node; the invalid index is the hidden parent
// of the top-level nodes. Row and parent lookups are O(1), and structural
// changes arrive from the document as notifications, so there is no second
// copy of the tree. Texts are shown as DocumentText decodes them.
class DocumentModel : public QAbstractItemModel, private TreeObserver {
    Q_OBJECT
public:
    explicit DocumentModel(Document& doc, QObject* parent = nullptr);
    ~DocumentModel() override;

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    Document& document() const { return doc_; }
    Node* nodeOf(const QModelIndex& index) const;
    QModelIndex indexOf(const Node* node) const;

    // How many indexes index() has handed out since the model was made: the
    // rows views have visited. The window tests and the window benchmark
    // read it to see which rows a change made the view look at.
    quint64 indexLookups() const { return indexLookups_; }

    // A node's text as shown.
    QString displayText(const Node* node) const;

signals:
    // The in-place editor was accepted with `text` on `node`.
    void editAccepted(keyloft::Node* node, const QString& text);

private:
    void NodesAboutToBeAdded(Node* parent, int first, int last) override;
    void NodesAdded(Node* parent, int first, int last) override;
    void NodeAboutToBeRemoved(Node* node) override;
    void NodeRemoved(Node* parent, int row) override;
    void TreeAboutToBeReset() override;
    void TreeReset() override;
    void TextsChanged(Node* parent, int first, int last) override;

    Document& doc_;
    mutable quint64 indexLookups_ = 0;
};

}  // namespace keyloft::ui
