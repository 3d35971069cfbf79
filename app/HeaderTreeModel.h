#pragma once

#include <QAbstractItemModel>
#include <QFont>
#include <QHash>
#include <QIcon>
#include <functional>
#include <string>
#include <vector>

// The header tree's items without a widget item each: per item its identifier, its place, its
// label's Shift_JIS bytes (decoded only when shown), its weight and its two images. A group of
// a hundred thousand headers costs a few megabytes and is handed to the view in one insertion.
//
// Items are found by identifier. A new top-level item waits outside the view until ShowPending,
// and so do the items below it; a child of an item already shown appears at once.
class CHeaderTreeModel final : public QAbstractItemModel {
    Q_OBJECT

public:
    // The item's identifier (int; 0 for none).
    static constexpr int kIdRole = Qt::UserRole + 1;

    // icon gives the icon showing image normally and selectedImage while selected.
    using IconSource = std::function<QIcon(int image, int selectedImage)>;
    explicit CHeaderTreeModel(QObject* parent = nullptr);

    // Where the items' icons come from; icons made earlier are forgotten.
    void SetIconSource(IconSource icon);

    // Empties the tree, the waiting items with it.
    void Clear();
    // Adds an item as the last child of the item parentId, or as the last top-level item when
    // there is no such item (parentId 0 among them); in normal weight with image 0 both
    // normally and selected. id 0 makes an item nothing finds by identifier.
    void Insert(int parentId, int id, const std::string& sjisLabel);
    // Room for this many items in all.
    void Reserve(int count);
    // Shows the waiting top-level items, in the order they were added.
    void ShowPending();

    // Whether the item is in the tree at all, and whether it is in the view.
    bool Contains(int id) const { return NodeOf(id) >= 0; }
    bool IsShown(int id) const;
    void SetBold(int id, bool bold);
    void SetImages(int id, int image, int selectedImage);

    // The shown item's index, or an invalid one; the identifier of an index (0 for none).
    QModelIndex IndexOf(int id) const;
    static int IdOf(const QModelIndex& index);

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    struct Node {
        int parent = -1; // node number of the parent, -1 at the top level
        int top = 0;     // node number of its top-level ancestor (itself at the top level)
        int row = 0;     // place among its parent's children
        int id = 0;
        quint32 labelAt = 0;
        quint32 labelSize = 0;
        quint8 image = 0;
        quint8 selectedImage = 0;
        bool bold = false;
    };

    int NodeOf(int id) const;
    int NodeOf(const QModelIndex& index) const;
    QModelIndex IndexOfNode(int node) const;
    bool NodeShown(int node) const;
    void Changed(int node);

    std::vector<Node> m_nodes;
    // Children of each node, and the top-level nodes; the first m_shownRoots of these are shown.
    std::vector<std::vector<int>> m_children;
    std::vector<int> m_roots;
    int m_shownRoots = 0;
    // Every label, one after the other.
    std::string m_labels;
    // Identifiers come one after the other from the first; the others are looked up here.
    int m_firstId = 0;
    QHash<int, int> m_otherIds;

    IconSource m_iconSource;
    mutable QHash<int, QIcon> m_icons;
    QFont m_bold;
};
