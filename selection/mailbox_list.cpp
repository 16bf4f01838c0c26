#include "selection/mailbox_list.h"

namespace mbx::selection {

MailboxList::MailboxList(QTableWidget& grid, QLabel& countLabel) : grid_(grid), count_(countLabel) {
    grid_.setColumnCount(1);
    grid_.setRowCount(1);
    grid_.setColumnWidth(0, kColumnWidth);
    count_.setText(QStringLiteral("0 files"));
}

bool MailboxList::isEmpty() const {
    return grid_.rowCount() == 1 && cellText(0).empty();
}

int MailboxList::rowCount() const {
    return grid_.rowCount();
}

std::string MailboxList::cellText(int row) const {
    const QTableWidgetItem* item = grid_.item(row, 0);
    return item ? item->text().toStdString() : std::string();
}

void MailboxList::makeCurrent(int row) {
    grid_.setCurrentCell(row, 0);
}

void MailboxList::setCellText(int row, const std::string& text) {
    auto* item = grid_.item(row, 0);
    if (!item) {
        item = new QTableWidgetItem;
        item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
        grid_.setItem(row, 0, item);
    }
    item->setText(QString::fromStdString(text));
    // The column is cut off at the grid's edge; the whole path shows when the pointer rests on it.
    item->setToolTip(item->text());
}

void MailboxList::addRow(const std::string& path) {
    int target = 0;
    if (isEmpty()) {
        grid_.setRowCount(1);
        grid_.setColumnCount(1);
        grid_.setColumnWidth(0, kColumnWidth);
    } else {
        target = grid_.rowCount();
        grid_.setRowCount(target + 1);
    }
    grid_.setCurrentCell(target, 0);
    setCellText(target, path);
    count_.setText(QString::number(grid_.rowCount()) + QStringLiteral(" files"));
}

void MailboxList::clear() {
    grid_.setRowCount(1);
    for (int c = 0; c < grid_.columnCount(); ++c) {
        if (auto* item = grid_.item(0, c)) {
            item->setText(QString());
            item->setToolTip(QString());
        }
    }
    // The empty row is no mailbox: nothing stays highlighted.
    grid_.setCurrentItem(nullptr);
    grid_.clearSelection();
    count_.setText(QStringLiteral("0 files"));
}

std::vector<std::string> MailboxList::rows() const {
    std::vector<std::string> out;
    out.reserve(static_cast<std::size_t>(grid_.rowCount()));
    for (int r = 0; r < grid_.rowCount(); ++r) {
        out.push_back(cellText(r));
    }
    return out;
}

} // namespace mbx::selection
