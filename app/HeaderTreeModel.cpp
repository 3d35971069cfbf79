#include "app/HeaderTreeModel.h"

#include "ui/CharsetText.h"
#include "ui/TreeItems.h"

#include <QByteArray>

CHeaderTreeModel::CHeaderTreeModel(QObject* parent) : QAbstractItemModel(parent) {
    m_bold.setBold(true);
}

void CHeaderTreeModel::SetIconSource(IconSource icon) {
    m_iconSource = std::move(icon);
    m_icons.clear();
    if (m_shownRoots > 0)
        emit dataChanged(index(0, 0), index(m_shownRoots - 1, 0), {Qt::DecorationRole});
}

void CHeaderTreeModel::Clear() {
    beginResetModel();
    m_nodes.clear();
    m_children.clear();
    m_roots.clear();
    m_shownRoots = 0;
    m_labels.clear();
    m_firstId = 0;
    m_otherIds.clear();
    endResetModel();
}

void CHeaderTreeModel::Insert(int parentId, int id, const std::string& sjisLabel) {
    const int node = static_cast<int>(m_nodes.size());
    const int parent = NodeOf(parentId);
    const bool shown = parent >= 0 && NodeShown(parent);
    const int row = static_cast<int>((parent >= 0 ? m_children[parent] : m_roots).size());
    if (shown)
        beginInsertRows(IndexOfNode(parent), row, row);

    Node item;
    item.parent = parent;
    item.top = parent >= 0 ? m_nodes[parent].top : node;
    item.row = row;
    item.id = id;
    item.labelAt = static_cast<quint32>(m_labels.size());
    item.labelSize = static_cast<quint32>(sjisLabel.size());
    m_labels += sjisLabel;
    m_nodes.push_back(item);
    m_children.emplace_back();
    (parent >= 0 ? m_children[parent] : m_roots).push_back(node);
    if (node == 0)
        m_firstId = id;
    if (id != 0 && static_cast<long long>(id) - m_firstId != node)
        m_otherIds.insert(id, node);

    if (shown)
        endInsertRows();
}

void CHeaderTreeModel::Reserve(int count) {
    m_nodes.reserve(static_cast<std::size_t>(count));
    m_children.reserve(static_cast<std::size_t>(count));
}

void CHeaderTreeModel::ShowPending() {
    const int count = static_cast<int>(m_roots.size());
    if (count == m_shownRoots)
        return;
    beginInsertRows(QModelIndex(), m_shownRoots, count - 1);
    m_shownRoots = count;
    endInsertRows();
}

bool CHeaderTreeModel::IsShown(int id) const {
    const int node = NodeOf(id);
    return node >= 0 && NodeShown(node);
}

void CHeaderTreeModel::SetBold(int id, bool bold) {
    const int node = NodeOf(id);
    if (node < 0 || m_nodes[node].bold == bold)
        return;
    m_nodes[node].bold = bold;
    Changed(node);
}

void CHeaderTreeModel::SetImages(int id, int image, int selectedImage) {
    const int node = NodeOf(id);
    if (node < 0)
        return;
    m_nodes[node].image = static_cast<quint8>(image);
    m_nodes[node].selectedImage = static_cast<quint8>(selectedImage);
    Changed(node);
}

QModelIndex CHeaderTreeModel::IndexOf(int id) const {
    const int node = NodeOf(id);
    return node >= 0 && NodeShown(node) ? IndexOfNode(node) : QModelIndex();
}

int CHeaderTreeModel::IdOf(const QModelIndex& index) {
    return index.isValid() ? index.data(kIdRole).toInt() : 0;
}

QModelIndex CHeaderTreeModel::index(int row, int column, const QModelIndex& parent) const {
    if (column != 0 || row < 0)
        return {};
    if (!parent.isValid())
        return row < m_shownRoots ? createIndex(row, 0, static_cast<quintptr>(m_roots[row]))
                                  : QModelIndex();
    const int node = NodeOf(parent);
    if (node < 0 || row >= static_cast<int>(m_children[node].size()))
        return {};
    return createIndex(row, 0, static_cast<quintptr>(m_children[node][row]));
}

QModelIndex CHeaderTreeModel::parent(const QModelIndex& child) const {
    const int node = NodeOf(child);
    return node >= 0 ? IndexOfNode(m_nodes[node].parent) : QModelIndex();
}

int CHeaderTreeModel::rowCount(const QModelIndex& parent) const {
    if (!parent.isValid())
        return m_shownRoots;
    const int node = NodeOf(parent);
    return node >= 0 && parent.column() == 0 ? static_cast<int>(m_children[node].size()) : 0;
}

int CHeaderTreeModel::columnCount(const QModelIndex& /*parent*/) const {
    return 1;
}

bool CHeaderTreeModel::hasChildren(const QModelIndex& parent) const {
    return rowCount(parent) > 0;
}

QVariant CHeaderTreeModel::data(const QModelIndex& index, int role) const {
    const int node = NodeOf(index);
    if (node < 0)
        return {};
    const Node& item = m_nodes[node];
    switch (role) {
    case Qt::DisplayRole:
        // Encoded words left in a stored value are decoded for the screen only.
        return FromSjisHeader(std::string_view(m_labels).substr(item.labelAt, item.labelSize));
    case Qt::FontRole:
        return item.bold ? QVariant(m_bold) : QVariant();
    case Qt::DecorationRole: {
        if (!m_iconSource)
            return {};
        const int key = item.image * 256 + item.selectedImage;
        auto icon = m_icons.find(key);
        if (icon == m_icons.end())
            icon = m_icons.insert(key, m_iconSource(item.image, item.selectedImage));
        return *icon;
    }
    case kTreeItemSjisRole:
        return QByteArray(m_labels.data() + item.labelAt, static_cast<qsizetype>(item.labelSize));
    case kIdRole:
        return item.id;
    default:
        return {};
    }
}

Qt::ItemFlags CHeaderTreeModel::flags(const QModelIndex& index) const {
    return NodeOf(index) >= 0 ? Qt::ItemIsSelectable | Qt::ItemIsEnabled : Qt::NoItemFlags;
}

int CHeaderTreeModel::NodeOf(int id) const {
    if (id == 0 || m_nodes.empty())
        return -1;
    const long long offset = static_cast<long long>(id) - m_firstId;
    if (offset >= 0 && offset < static_cast<long long>(m_nodes.size()) &&
        m_nodes[static_cast<std::size_t>(offset)].id == id)
        return static_cast<int>(offset);
    return m_otherIds.value(id, -1);
}

int CHeaderTreeModel::NodeOf(const QModelIndex& index) const {
    if (!index.isValid() || index.model() != this)
        return -1;
    const quintptr node = index.internalId();
    return node < m_nodes.size() ? static_cast<int>(node) : -1;
}

QModelIndex CHeaderTreeModel::IndexOfNode(int node) const {
    return node >= 0 ? createIndex(m_nodes[node].row, 0, static_cast<quintptr>(node))
                     : QModelIndex();
}

bool CHeaderTreeModel::NodeShown(int node) const {
    return m_nodes[m_nodes[node].top].row < m_shownRoots;
}

void CHeaderTreeModel::Changed(int node) {
    if (!NodeShown(node))
        return;
    const QModelIndex at = IndexOfNode(node);
    emit dataChanged(at, at);
}
