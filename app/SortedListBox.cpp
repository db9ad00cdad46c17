#include "SortedListBox.h"

namespace {

class TCollatedItem : public QListWidgetItem {
public:
    using QListWidgetItem::QListWidgetItem;
    bool operator<(const QListWidgetItem& AOther) const override {
        return TSortedListBox::Collator().compare(text(), AOther.text()) < 0;
    }
};

QCollator MakeCollator() {
    QLocale locale;
    if (locale.language() == QLocale::C) {
        locale = QLocale(QLocale::English, QLocale::UnitedStates);
    }
    QCollator collator(locale);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    return collator;
}

} // namespace

const QCollator& TSortedListBox::Collator() {
    static const QCollator collator = MakeCollator();
    return collator;
}

TSortedListBox::TSortedListBox(QWidget* AParent) : QListWidget(AParent) {
    setSortingEnabled(true);
}

void TSortedListBox::Add(const QString& AText) {
    addItem(new TCollatedItem(AText));
}

QStringList TSortedListBox::Items() const {
    QStringList items;
    for (int i = 0; i < count(); ++i) {
        items << item(i)->text();
    }
    return items;
}
