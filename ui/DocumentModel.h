// The item model the tree view shows: a view of the core document tree.
#pragma once

#include <QAbstractItemModel>
#include <QByteArray>
#include <optional>
#include <string>
#include <string_view>

#include "TreeObserver.h"

namespace keyloft {
class Document;
class Node;
}  // namespace keyloft

namespace keyloft::ui {

// The root names the file: its text holds the file name's bytes, shown as
// the system decodes file names, whatever the file's content is.
QString FileNameText(std::string_view bytes);
// A name typed for the root as the bytes the system uses for file names.
std::string FileNameBytes(const QString& text);

// Every index carries its core node; the invalid index is the hidden parent
// of the top-level nodes. Row and parent lookups are O(1), and structural
// changes arrive from the document as notifications, so there is no second
// copy of the tree. Line texts are shown as UTF-8 when the loaded file is
// valid UTF-8, otherwise as Windows-1252; the root as a file name.
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

    Node* nodeOf(const QModelIndex& index) const;
    QModelIndex indexOf(const Node* node) const;

    // A node's text as shown.
    QString displayText(const Node* node) const;
    // Text typed by the user as the document's bytes; nothing when the
    // document's encoding cannot hold a character, which `bad` then names.
    std::optional<std::string> encode(const QString& text, QString* bad = nullptr) const;
    // Text typed for `node`: a file name for the root, a line otherwise.
    std::optional<std::string> encodeFor(const Node* node, const QString& text,
                                         QString* bad = nullptr) const;

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
};

}  // namespace keyloft::ui
