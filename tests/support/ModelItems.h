#pragma once

#include <QAbstractItemModel>
#include <QFont>
#include <QIcon>
#include <vector>

// Items of an item model, for tests that look at trees as their users see them.

// Every index below parent, each parent before its children, in the order the tree shows them.
inline std::vector<QModelIndex> AllIndexes(const QAbstractItemModel* model,
                                           const QModelIndex& parent = {}) {
    std::vector<QModelIndex> out;
    for (int row = 0; row < model->rowCount(parent); ++row) {
        const QModelIndex index = model->index(row, 0, parent);
        out.push_back(index);
        const std::vector<QModelIndex> below = AllIndexes(model, index);
        out.insert(out.end(), below.begin(), below.end());
    }
    return out;
}

inline bool IsBold(const QModelIndex& index) {
    return index.data(Qt::FontRole).value<QFont>().bold();
}

inline QIcon IconOf(const QModelIndex& index) {
    return index.data(Qt::DecorationRole).value<QIcon>();
}
