// The common base of the two device lists: a table of twelve columns with a check box per row,
// a check-box header that ticks or clears every row, the status cell and the tool buttons of
// each row, and the operations through which the main window reads the ticked rows, counts rows
// and drives one row's status.
//
// A derived list calls initTable() with its column-2 header, adds rows with insertRow() and
// attachTools(), and implements setRowStatus() over its own status signal with
// emitStatusToRow(). Rows a list hides (a filter) are left out of check all and of
// getSelectedDevices(), so an operation never reaches a camera the user cannot see.
//
// The rows live in the list's own model (DeviceTableModel), the status of each row too; the
// status cell and the tool widget of a row are made on first use: for the rows the view shows,
// or when statusCell() or toolsCell() asks. Ten thousand rows with two widgets each would make
// every insertion update twenty thousand persistent indexes.
#pragma once

#include <QHash>
#include <QMetaObject>
#include <QString>
#include <QVariant>
#include <QWidget>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "device_table_model.h"
#include "deviceinfo.h"
#include "ui_job_queue.h"
#include "update_widget.h"

class QTableView;
class QTableHeaderView;
class BtnToolsWidget;

class DeviceTableWidgetBase : public QWidget {
    Q_OBJECT

public:
    DeviceTableWidgetBase(QWidget* parent, UiJobQueuePtr ui_job_queue);
    ~DeviceTableWidgetBase() override;

    // The ticked rows that are shown, in row order, each with `row` set. The reference stays
    // valid until the next call.
    virtual std::vector<DeviceInfo>& getSelectedDevices();
    virtual void clearDevices();
    // The first row whose IP column equals `ip` exactly.
    virtual bool findRowByIp(const std::string& ip, int& row) const;
    virtual void setRowStatus(int row, DeviceStatus status, int value) = 0;
    virtual void updateCounts();

    // Check all ticks every shown row; clear all clears every row.
    void checkAll();
    void clearAll();
    int checkedRowCount() const;
    // Writes the shown rows as the list shows them (status to netmask, the header row first) to
    // a workbook at `path`; false when it cannot be written.
    bool exportShownRows(const std::string& path) const;
    // The rows the user can see: what the total counter shows.
    int shownRowCount() const;

    QTableView* tableView() const { return table_view_; }
    QTableHeaderView* headerView() const { return header_view_; }
    const DeviceTableModel* tableModel() const { return model_; }
    int rowCount() const;
    // The text of a cell as the view shows it; empty for a cell that does not exist.
    QString cellText(int row, int column) const;
    QVariant cellData(int row, int column, int role) const;
    void setCellText(int row, int column, const QString& text);
    // An invalid value takes the role off the cell; false when the row does not exist.
    bool setCellData(int row, int column, int role, const QVariant& value);
    Qt::CheckState rowCheckState(int row) const;
    // Ticks or clears one row, as a click on its box does (the counts are not sent).
    void setRowCheckState(int row, Qt::CheckState state);
    // The row's cells, made on first use; null for a row that does not exist.
    UpdateWidget* statusCell(int row) const;
    BtnToolsWidget* toolsCell(int row) const;
    // The status cell only when it has been made already.
    UpdateWidget* existingStatusCell(int row) const;
    // A number other than 0 that names `row` while it exists, whatever rows are inserted or
    // removed around it: a removed row's number is never given again. 0 for no such row.
    quint64 rowToken(int row);
    // The row `token` names now (`hint` is tried first); -1 when that row is gone.
    int rowOfToken(quint64 token, int hint) const;
    // Greys the row's status cell or not, now or when the cell is made.
    void setStatusCellEnabled(int row, bool enabled);
    // The row's last status, with or without a cell.
    DeviceStatus rowStatus(int row) const;
    // Why the row's last status came (a failure's reason): shown after the status text and in
    // the cell's tooltip, with or without a cell. The next status of the row drops it.
    void setRowReason(int row, const QString& reason);
    QString rowReason(int row) const;
    const UiJobQueuePtr& uiJobQueue() const { return ui_job_queue_; }

    // The address the web-page button opens: "http://%s/" on port 80, "http://%s:%d/" otherwise.
    // Empty when the record's address is not a dotted IPv4 address or its port is out of
    // range: the text goes to the system shell, so nothing else is let through.
    static std::string webPageUrl(const DeviceInfo& device_info);

Q_SIGNALS:
    void signalsDeviceNumChange(int totle_num);
    void signalsSelectedChange(int select_num);
    // A row's video button: the window that owns the list opens the preview.
    void signalOpenVideo(DeviceInfo device_info);

protected Q_SLOTS:
    void slotOpenWebPage(DeviceInfo* device_info);
    void slotOpenVideo(DeviceInfo* device_info);
    void slotHeaderStateChanged(Qt::CheckState cs);
    void slotItemClicked();

protected:
    // Header texts, widths and table settings; `column2_header` is the only difference
    // between the lists.
    void initTable(const QString& column2_header);
    // Inserts a row before `row` with columns 0 to 10 from `info`: check box with the hidden
    // roles (260/261 only with `with_login_roles`), the status at idle, `column2_text`, and the
    // text columns; `key` is what the list orders by (rowKey).
    void insertRow(int row, const DeviceInfo& info, const QString& column2_text, bool with_login_roles,
                   std::uint64_t key = 0);
    void removeRow(int row);
    std::uint64_t rowKey(int row) const;
    // Column 11: a tool widget holding `record`, its buttons wired to the web-page and video
    // handlers.
    BtnToolsWidget* attachTools(int row, const DeviceInfo& record);
    // Writes what `info` tells of a camera into its existing `row`: columns 2 to 10, the first
    // cell's mask and gateway, and the record of a tool widget already made. The tick, the status
    // and the row's token stay.
    void refreshRow(int row, const DeviceInfo& info, const QString& column2_text);
    // Moves row `from` to `to` (an index among the other rows) with `key` as its new order key;
    // its cell widgets are made again on next use.
    void moveRow(int from, int to, std::uint64_t key);
    // Every row off the list, which is empty after it: the caller frees them where it likes.
    DeviceTableModel::Rows takeAllRows();
    // Whether `row` counts for check all and the ticked-row collection.
    bool isRowShown(int row) const;
    void untickRow(int row);

    // Keeps the status of `row` and delivers it to the row's cell only, through the list's own
    // status signal; a row whose cell is not made yet gets it when the cell is made.
    template <typename List>
    void emitStatusToRow(List* list, void (List::*signal)(DeviceStatus, int), int row, DeviceStatus status,
                         int value) {
        if (!storeRowStatus(row, status, value)) return;
        UpdateWidget* cell = existingStatusCell(row);
        if (!cell) return;
        const QMetaObject::Connection connection = connect(list, signal, cell, &UpdateWidget::slotSetStatus);
        emit(list->*signal)(status, value);
        disconnect(connection);
    }

    // The record a lazily made tool widget holds: the row as collected, `row` 0.
    virtual DeviceInfo toolsRecord(int row) const;

    DeviceTableModel* mutableModel() const { return model_; }

    QWidget* parent_widget_ = nullptr;

private:
    bool storeRowStatus(int row, DeviceStatus status, int value);
    void createCellsInView();
    // Keeps the address index in step with the rows: rows added at the end join it, any other
    // change drops it until the next lookup rebuilds it.
    void followRowsForIpIndex();

    // The first row of each address, for findRowByIp: a login notice per camera would otherwise
    // read every row of a long stored list. Built on a lookup when `ip_rows_valid_` is false.
    mutable QHash<QString, int> ip_rows_;
    mutable bool ip_rows_valid_ = false;

    QTableView* table_view_ = nullptr;
    DeviceTableModel* model_ = nullptr;
    QTableHeaderView* header_view_ = nullptr;
    std::vector<DeviceInfo> selected_devices_;
    UiJobQueuePtr ui_job_queue_;
    bool creating_cells_ = false;
    quint64 last_row_token_ = 0;
};
