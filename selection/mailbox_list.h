// The list of mailboxes to convert, kept in the main window's grid with its count label.
// Row r holds the (r+1)-th path added, exactly as received; the empty list is one empty row.
#pragma once

#include <QLabel>
#include <QTableWidget>
#include <string>
#include <vector>

namespace mbx::selection {

class MailboxList {
public:
    // Column 0 is this wide (pixels), wider than the grid itself.
    static constexpr int kColumnWidth = 1000;

    MailboxList(QTableWidget& grid, QLabel& countLabel);

    void addRow(const std::string& path);
    void clear();

    bool isEmpty() const;
    int rowCount() const;
    // The rows as they stand now (the empty list gives one empty row, as the grid holds it).
    std::vector<std::string> rows() const;
    std::string cellText(int row) const;
    // Makes the row's cell the grid's current (highlighted) cell.
    void makeCurrent(int row);

private:
    void setCellText(int row, const std::string& text);
    QTableWidget& grid_;
    QLabel& count_;
};

} // namespace mbx::selection
