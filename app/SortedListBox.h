// A list box that keeps its rows in alphabetical order without regard to letter case, as the
// nick list needs ("alice", "Bob", "carol"). Qt's own sorting compares case-sensitively, so
// rows must be added through `Add`, which gives them the case-blind order.
#pragma once

#include <QListWidget>

class TSortedListBox : public QListWidget {
    Q_OBJECT
public:
    explicit TSortedListBox(QWidget* AParent = nullptr);

    // Inserts a row at its sorted place.
    void Add(const QString& AText);
    QStringList Items() const;
};
