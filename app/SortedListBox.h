// A list box that keeps its rows in the order a person reads a list in: the locale's
// collation, without regard to letter case ("alice", "Bob", "éclair", "Zed"; punctuation such
// as "{brace}" and "|pipe" before the letters, not after "Zed" as byte order has it). Qt's own
// sorting compares code points, so rows must be added through `Add`.
#pragma once

#include <QCollator>
#include <QListWidget>

class TSortedListBox : public QListWidget {
    Q_OBJECT
public:
    explicit TSortedListBox(QWidget* AParent = nullptr);

    // Inserts a row at its sorted place.
    void Add(const QString& AText);
    QStringList Items() const;

    // The collation in use: the user's locale, or, where none is set (the "C" locale compares
    // code points), English, whose order suits the Latin-script nicknames of IRC.
    static const QCollator& Collator();
};
