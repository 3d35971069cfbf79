#include "app/MessageIdIndexList.h"

#include "ui/SjisText.h"

#include <QByteArray>

void CMessageIdIndexModel::Clear() {
    beginResetModel();
    m_bytes.clear();
    m_ends.clear();
    m_shown = 0;
    endResetModel();
}

void CMessageIdIndexModel::Append(const std::string& entry) {
    m_bytes += entry;
    m_ends.push_back(m_bytes.size());
}

void CMessageIdIndexModel::Flush() {
    if (m_shown == Count())
        return;
    beginInsertRows(QModelIndex(), m_shown, Count() - 1);
    m_shown = Count();
    endInsertRows();
}

std::string CMessageIdIndexModel::Entry(int row) const {
    return std::string(EntryView(row));
}

int CMessageIdIndexModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_shown;
}

QVariant CMessageIdIndexModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.model() != this || index.row() >= m_shown)
        return {};
    const std::string_view entry = EntryView(index.row());
    if (role == Qt::DisplayRole)
        return FromSjis(entry);
    if (role == kBytesRole)
        return QByteArray(entry.data(), static_cast<qsizetype>(entry.size()));
    return {};
}

std::string_view CMessageIdIndexModel::EntryView(int row) const {
    if (row < 0 || row >= Count())
        return {};
    const std::size_t begin = row == 0 ? 0 : m_ends[static_cast<std::size_t>(row) - 1];
    return std::string_view(m_bytes).substr(begin, m_ends[static_cast<std::size_t>(row)] - begin);
}

CMessageIdIndexList::CMessageIdIndexList(QWidget* parent)
    : QListView(parent), m_entries(new CMessageIdIndexModel(this)) {
    setModel(m_entries);
}

int CMessageIdIndexList::currentRow() const {
    return currentIndex().row();
}

void CMessageIdIndexList::setCurrentRow(int row) {
    selectionModel()->setCurrentIndex(m_entries->index(row, 0),
                                      QItemSelectionModel::ClearAndSelect);
}
