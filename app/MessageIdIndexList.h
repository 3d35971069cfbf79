#pragma once

#include <QAbstractListModel>
#include <QListView>
#include <string>
#include <string_view>
#include <vector>

// The rows of the message-ID index: Shift_JIS entries kept one after the other, shown (as
// Unicode) only when asked for. Appended rows reach the views at Flush, many at a time.
class CMessageIdIndexModel final : public QAbstractListModel {
    Q_OBJECT

public:
    // The entry's Shift_JIS bytes (a QByteArray).
    static constexpr int kBytesRole = Qt::UserRole;

    using QAbstractListModel::QAbstractListModel;

    void Clear();
    // Room for this many entries.
    void Reserve(int count) { m_ends.reserve(static_cast<std::size_t>(count)); }
    void Append(const std::string& entry);
    void Flush();
    // Every entry, flushed or not.
    int Count() const { return static_cast<int>(m_ends.size()); }
    std::string Entry(int row) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

private:
    std::string_view EntryView(int row) const;

    std::string m_bytes;
    std::vector<std::size_t> m_ends; // where each entry ends in m_bytes
    int m_shown = 0;
};

// The message-ID index as a list control of the main window that is never shown: its rows are
// the entries, its current row the entry a search goes on after.
class CMessageIdIndexList final : public QListView {
    Q_OBJECT

public:
    explicit CMessageIdIndexList(QWidget* parent = nullptr);

    CMessageIdIndexModel* Entries() const { return m_entries; }

    // In the manner of a list widget: the number of entries, emptying, and the current row (-1
    // for none; setting -1 leaves none current).
    int count() const { return m_entries->Count(); }
    void clear() { m_entries->Clear(); }
    int currentRow() const;
    void setCurrentRow(int row);

private:
    CMessageIdIndexModel* m_entries;
};
