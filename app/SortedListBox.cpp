#include "SortedListBox.h"

namespace {

class TCaseBlindItem : public QListWidgetItem {
public:
    using QListWidgetItem::QListWidgetItem;
    bool operator<(const QListWidgetItem& AOther) const override {
        return QString::compare(text(), AOther.text(), Qt::CaseInsensitive) < 0;
    }
};

} // namespace

TSortedListBox::TSortedListBox(QWidget* AParent) : QListWidget(AParent) {
    setSortingEnabled(true);
}

void TSortedListBox::Add(const QString& AText) {
    addItem(new TCaseBlindItem(AText));
}

QStringList TSortedListBox::Items() const {
    QStringList items;
    for (int i = 0; i < count(); ++i) {
        items << item(i)->text();
    }
    return items;
}
