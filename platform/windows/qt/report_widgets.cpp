// The report list and the status bar, and what facet's commands (library row 1) read and change
// on them.
#include "report_widgets.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>

#include "tessel/runtime/units.h"
#include "tessel/window_core/unit_rules.h"

namespace tessel::qt {

namespace {

namespace type = image::unit_type;

Qt::Alignment AlignmentOf(std::uint32_t storedCode) {
    switch (windows::ColumnAlignmentOf(storedCode)) {
        case windows::ColumnAlignment::kCentre:
            return Qt::AlignHCenter | Qt::AlignVCenter;
        case windows::ColumnAlignment::kRight:
            return Qt::AlignRight | Qt::AlignVCenter;
        case windows::ColumnAlignment::kLeft:
            break;
    }
    return Qt::AlignLeft | Qt::AlignVCenter;
}

class StatusBar final : public QFrame {
  public:
    StatusBar(const image::StatusBarProperties& p, const QString& name, QWidget* parent)
        : QFrame(parent) {
        int left = 0;
        for (std::size_t i = 0; i < p.panes.size(); ++i) {
            auto* pane = new QLabel(FromGbk(p.panes[i].text), this);
            pane->setFrameStyle(QFrame::Panel | QFrame::Sunken);
            pane->setIndent(2);
            pane->setGeometry(left, 2, static_cast<int>(p.panes[i].width) - 2, 0);
            pane->setAccessibleDescription(name + QString::number(i));
            left += static_cast<int>(p.panes[i].width);
            panes_.push_back(pane);
            Rename(i);
        }
    }
    QLabel* Pane(std::size_t i) const { return panes_[i]; }
    std::size_t PaneCount() const { return panes_.size(); }
    // A screen reader reads a pane's name: its text, nothing while it is empty. The bar's name
    // and the pane's number stay in the description.
    void Rename(std::size_t i) { panes_[i]->setAccessibleName(panes_[i]->text()); }

  protected:
    void resizeEvent(QResizeEvent* e) override {
        QFrame::resizeEvent(e);
        for (QLabel* pane : panes_) pane->resize(pane->width(), height() - 3);
    }

  private:
    std::vector<QLabel*> panes_;
};

// The bar is a status bar to assistive technologies, not a plain frame.
QAccessibleInterface* StatusBarAccessible(const QString&, QObject* object) {
    auto* bar = dynamic_cast<StatusBar*>(object);
    return bar != nullptr ? new QAccessibleWidget(bar, QAccessible::StatusBar) : nullptr;
}

// The commands name a unit of the kind they are for (`Has` answered for it).
QTableWidget& ListOf(UnitRef unit) {
    return *qobject_cast<QTableWidget*>(UnitWidget(unit.window, unit.unit));
}

StatusBar& BarOf(UnitRef unit) {
    return *dynamic_cast<StatusBar*>(UnitWidget(unit.window, unit.unit));
}

}  // namespace

QWidget* MakeReportList(QWidget* window, windows::Unit& u) {
    const auto* p = std::get_if<image::ReportListProperties>(&u.record->properties);
    auto* list = new QTableWidget(window);
    list->verticalHeader()->hide();
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setWordWrap(false);
    list->setContextMenuPolicy(Qt::CustomContextMenu);
    // A row holds one line of the list's font and the grid line below it, as Wine's list
    // draws its rows (15 pixels for the program's 12-pixel font), so the default window shows
    // twelve whole rows under the tags where a taller row showed ten.
    const int rowHeight = list->fontMetrics().height() + 1;
    list->verticalHeader()->setMinimumSectionSize(rowHeight);
    list->verticalHeader()->setDefaultSectionSize(rowHeight);
    list->horizontalHeader()->setHighlightSections(false);
    if (p != nullptr) {
        list->setColumnCount(static_cast<int>(p->columns.size()));
        for (std::size_t i = 0; i < p->columns.size(); ++i) {
            auto* header = new QTableWidgetItem(FromGbk(p->columns[i].header));
            header->setTextAlignment(AlignmentOf(p->columns[i].alignment));
            list->setHorizontalHeaderItem(static_cast<int>(i), header);
            list->setColumnWidth(static_cast<int>(i), static_cast<int>(p->columns[i].width));
        }
    }
    const UnitRef self{u.window, u.id};
    QObject::connect(list, &QWidget::customContextMenuRequested,
                     [self] { Windows().RaiseIfLoaded(self, image::event::kListRightClick); });
    QObject::connect(list, &QTableWidget::cellDoubleClicked,
                     [self] { Windows().RaiseIfLoaded(self, image::event::kDoubleClick); });
    return list;
}

QWidget* MakeStatusBar(QWidget* window, windows::Unit& u) {
    static const bool accessible = (QAccessible::installFactory(&StatusBarAccessible), true);
    (void)accessible;
    const auto* p = std::get_if<image::StatusBarProperties>(&u.record->properties);
    return new StatusBar(p != nullptr ? *p : image::StatusBarProperties{}, FromGbk(u.record->name),
                         window);
}

void PlaceStatusBars(windows::Window& w) {
    // Docked to the bottom edge, as status bars are, at their stored height and above the
    // other units, so a list reaching down to it never covers the panes.
    QWidget* window = WidgetOf(w);
    for (auto& [id, u] : w.units) {
        QWidget* bar = PartOf<QtPart>(*u).widget;
        if (u->type != type::kStatusBar || bar == nullptr) continue;
        const int height = u->record->height;
        bar->setGeometry(0, window->height() - height, window->width(), height);
        bar->raise();
    }
}

bool QtToolkit::Has(UnitRef unit, std::uint32_t kind) {
    windows::Unit* u = Windows().FindUnit(unit);
    if (u == nullptr || u->type != kind) return false;
    QWidget* widget = PartOf<QtPart>(*u).widget;
    return kind == type::kReportList ? qobject_cast<QTableWidget*>(widget) != nullptr
                                     : dynamic_cast<StatusBar*>(widget) != nullptr;
}

void QtToolkit::DeleteAllRows(UnitRef unit) {
    QTableWidget& list = ListOf(unit);
    list.clearSelection();
    list.setRowCount(0);
}

std::int32_t QtToolkit::AppendRow(UnitRef unit) {
    QTableWidget& list = ListOf(unit);
    const int added = list.rowCount();
    list.insertRow(added);
    for (int c = 0; c < list.columnCount(); ++c) {
        auto* item = new QTableWidgetItem();
        item->setTextAlignment(Qt::Alignment(list.horizontalHeaderItem(c)->textAlignment()));
        list.setItem(added, c, item);
    }
    return added;
}

std::int32_t QtToolkit::RowCount(UnitRef unit) {
    return ListOf(unit).rowCount();
}

std::int32_t QtToolkit::ColumnCount(UnitRef unit) {
    return ListOf(unit).columnCount();
}

std::int32_t QtToolkit::PaneCount(UnitRef unit) {
    return static_cast<std::int32_t>(BarOf(unit).PaneCount());
}

// The core asks only for cells and panes that exist.
bool QtToolkit::SetCell(UnitRef unit, std::int32_t row, std::int32_t column, std::string_view gbk) {
    QTableWidgetItem* cell = ListOf(unit).item(row, column);
    if (cell != nullptr) cell->setText(FromGbk(gbk));
    return cell != nullptr;
}

std::string QtToolkit::Cell(UnitRef unit, std::int32_t row, std::int32_t column) {
    const QTableWidgetItem* cell = ListOf(unit).item(row, column);
    return cell != nullptr ? ToGbk(cell->text()) : std::string();
}

std::int32_t QtToolkit::SelectedRow(UnitRef unit) {
    const auto rows = ListOf(unit).selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.front().row();
}

bool QtToolkit::SetPane(UnitRef unit, std::int32_t index, std::string_view gbk) {
    StatusBar& bar = BarOf(unit);
    bar.Pane(static_cast<std::size_t>(index))->setText(FromGbk(gbk));
    bar.Rename(static_cast<std::size_t>(index));
    return true;
}

std::string QtToolkit::Pane(UnitRef unit, std::int32_t index) {
    return ToGbk(BarOf(unit).Pane(static_cast<std::size_t>(index))->text());
}

}  // namespace tessel::qt
