#include "ui/TreeItems.h"

#include "ui/CharsetText.h"
#include "ui/SjisText.h"

#include <QByteArray>
#include <QTreeWidget>

void SetTreeItemText(QTreeWidgetItem* item, const std::string& sjisText) {
    item->setText(0, FromSjis(sjisText));
    item->setData(0, kTreeItemSjisRole,
                  QByteArray(sjisText.data(), static_cast<qsizetype>(sjisText.size())));
}

void SetHeaderItemText(QTreeWidgetItem* item, const std::string& sjisLabel) {
    item->setText(0, FromSjisHeader(sjisLabel));
    item->setData(0, kTreeItemSjisRole,
                  QByteArray(sjisLabel.data(), static_cast<qsizetype>(sjisLabel.size())));
}

std::string TreeItemText(const QTreeWidgetItem* item) {
    const QVariant bytes = item->data(0, kTreeItemSjisRole);
    if (bytes.typeId() == QMetaType::QByteArray)
        return bytes.toByteArray().toStdString();
    return ToSjis(item->text(0));
}

std::string TreeItemText(const QModelIndex& index) {
    const QVariant bytes = index.data(kTreeItemSjisRole);
    if (bytes.typeId() == QMetaType::QByteArray)
        return bytes.toByteArray().toStdString();
    return ToSjis(index.data().toString());
}

QTreeWidgetItem* FindTreeChild(QTreeWidget* tree, const std::string& sjisText,
                               QTreeWidgetItem* parent) {
    if (!tree)
        return nullptr;
    QTreeWidgetItem* const owner = parent ? parent : tree->invisibleRootItem();
    for (int i = 0; i < owner->childCount(); ++i) {
        QTreeWidgetItem* child = owner->child(i);
        if (TreeItemText(child) == sjisText)
            return child;
    }
    return nullptr;
}

QTreeWidgetItem* FindOrInsertTreeChild(QTreeWidget* tree, const std::string& sjisText,
                                       QTreeWidgetItem* parent) {
    if (QTreeWidgetItem* found = FindTreeChild(tree, sjisText, parent))
        return found;
    if (!tree)
        return nullptr;
    auto* item = new QTreeWidgetItem;
    SetTreeItemText(item, sjisText);
    (parent ? parent : tree->invisibleRootItem())->addChild(item);
    return item;
}
