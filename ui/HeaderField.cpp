#include "ui/HeaderField.h"

#include "ui/CharsetText.h"
#include "ui/SjisText.h"

#include <QByteArray>
#include <QLineEdit>
#include <QVariant>

namespace {

// Dynamic properties of the field: the stored bytes and the text they were shown as.
constexpr char kStoredBytes[] = "quilloStoredBytes";
constexpr char kShownText[] = "quilloShownText";

} // namespace

void SetHeaderFieldText(QLineEdit* field, const std::string& stored) {
    const QString shown = FromSjisHeader(stored);
    field->setText(shown);
    field->setProperty(kStoredBytes, QByteArray::fromStdString(stored));
    field->setProperty(kShownText, shown);
}

std::string HeaderFieldText(const QLineEdit* field) {
    const QVariant shown = field->property(kShownText);
    if (shown.isValid() && shown.toString() == field->text())
        return field->property(kStoredBytes).toByteArray().toStdString();
    return ToSjis(field->text());
}
