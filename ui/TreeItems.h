#pragma once

#include <Qt>
#include <string>

class QModelIndex;
class QTreeWidget;
class QTreeWidgetItem;

// Tree items carry their Shift_JIS text beside the text shown, so lookups compare the data
// bytes exactly (letter case matters) and never a round trip through Unicode.

// Item data role holding the Shift_JIS bytes of the shown text (a QByteArray), for items of
// widgets and of models alike.
inline constexpr int kTreeItemSjisRole = Qt::UserRole + 0x51;

// Sets the item's shown text (column 0) and the Shift_JIS bytes it stands for.
void SetTreeItemText(QTreeWidgetItem* item, const std::string& sjisText);

// Sets the shown text of an item labelled with a stored header value: encoded words left in it
// are decoded for the screen (FromSjisHeader), while the item keeps the stored bytes.
void SetHeaderItemText(QTreeWidgetItem* item, const std::string& sjisLabel);

// The Shift_JIS bytes of the item's text: those given to SetTreeItemText, or the shown text
// converted for an item made some other way.
std::string TreeItemText(const QTreeWidgetItem* item);
// The same for an item of a model: its kTreeItemSjisRole bytes, or its shown text converted.
std::string TreeItemText(const QModelIndex& index);

// The first child of parent (a top-level item when parent is null) whose text equals sjisText
// byte for byte, or null.
QTreeWidgetItem* FindTreeChild(QTreeWidget* tree, const std::string& sjisText,
                               QTreeWidgetItem* parent);

// FindTreeChild, or else a new item with that text as parent's last child (the last top-level
// item when parent is null).
QTreeWidgetItem* FindOrInsertTreeChild(QTreeWidget* tree, const std::string& sjisText,
                                       QTreeWidgetItem* parent);
