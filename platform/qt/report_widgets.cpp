// The report list and the status bar, and facet's commands on them (library row 1).
#include "report_widgets.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>

#include "tessel/platform/arguments.h"
#include "tessel/runtime/units.h"

namespace tessel::qt {

namespace {

namespace type = image::unit_type;
using platform::ArgInt;
using platform::ArgText;

Qt::Alignment ColumnAlignment(std::uint32_t alignment) {
    switch (alignment) {
        case 1:
            return Qt::AlignHCenter | Qt::AlignVCenter;
        case 2:
            return Qt::AlignRight | Qt::AlignVCenter;
        default:
            return Qt::AlignLeft | Qt::AlignVCenter;
    }
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
    QLabel* Pane(std::size_t i) const { return i < panes_.size() ? panes_[i] : nullptr; }
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

QTableWidget* ListOf(UnitState* u) {
    return u != nullptr && u->type == type::kReportList ? qobject_cast<QTableWidget*>(u->widget)
                                                         : nullptr;
}

StatusBar* BarOf(UnitState* u) {
    return u != nullptr && u->type == type::kStatusBar ? dynamic_cast<StatusBar*>(u->widget.data())
                                                        : nullptr;
}

void ListCommand(QTableWidget& list, std::uint32_t command, std::uint32_t n, const Value* a,
                 Value* r) {
    const int row = ArgInt(n, a, 1, -1);
    const int column = ArgInt(n, a, 2, -1);
    const bool inRange =
        row >= 0 && row < list.rowCount() && column >= 0 && column < list.columnCount();
    switch (command) {
        case facet::kListDeleteAll:
            list.clearSelection();
            list.setRowCount(0);
            return;
        case facet::kListAppendRow: {
            const int added = list.rowCount();
            list.insertRow(added);
            for (int c = 0; c < list.columnCount(); ++c) {
                auto* item = new QTableWidgetItem();
                item->setTextAlignment(Qt::Alignment(list.horizontalHeaderItem(c)->textAlignment()));
                list.setItem(added, c, item);
            }
            *r = IntegerValue(added);
            return;
        }
        case facet::kListRowCount:
            *r = IntegerValue(list.rowCount());
            return;
        case facet::kListSetCell:
            if (inRange) list.item(row, column)->setText(FromGbk(ArgText(n, a, 3)));
            *r = LogicalValue(inRange);
            return;
        case facet::kListReadCell:
            *r = platform::NewText(inRange ? ToGbk(list.item(row, column)->text()) : std::string());
            return;
        case facet::kListSelectedRow: {
            const auto rows = list.selectionModel()->selectedRows();
            *r = IntegerValue(rows.isEmpty() ? -1 : rows.front().row());
            return;
        }
        default:
            return;
    }
}

void StatusCommand(StatusBar& bar, std::uint32_t command, std::uint32_t n, const Value* a,
                   Value* r) {
    const auto index = static_cast<std::size_t>(ArgInt(n, a, 1, -1));
    QLabel* pane = bar.Pane(index);
    switch (command) {
        case facet::kStatusSetPane:
            if (pane != nullptr) {
                pane->setText(FromGbk(ArgText(n, a, 2)));
                bar.Rename(index);
            }
            *r = LogicalValue(pane != nullptr);
            return;
        case facet::kStatusReadPane:
            *r = platform::NewText(pane != nullptr ? ToGbk(pane->text()) : std::string());
            return;
        default:
            return;
    }
}

}  // namespace

QWidget* MakeReportList(WindowState& w, UnitState& u) {
    const auto* p = std::get_if<image::ReportListProperties>(&u.record->properties);
    auto* list = new QTableWidget(w.widget);
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
            header->setTextAlignment(ColumnAlignment(p->columns[i].alignment));
            list->setHorizontalHeaderItem(static_cast<int>(i), header);
            list->setColumnWidth(static_cast<int>(i), static_cast<int>(p->columns[i].width));
        }
    }
    const std::uint32_t window = w.id, unit = u.id;
    QObject::connect(list, &QWidget::customContextMenuRequested, [window, unit] {
        if (const UnitState* self = FindUnit(window, unit))
            RaiseEvent(*self, image::event::kListRightClick);
    });
    QObject::connect(list, &QTableWidget::cellDoubleClicked, [window, unit] {
        if (const UnitState* self = FindUnit(window, unit))
            RaiseEvent(*self, image::event::kDoubleClick);
    });
    return list;
}

QWidget* MakeStatusBar(WindowState& w, UnitState& u) {
    static const bool accessible = (QAccessible::installFactory(&StatusBarAccessible), true);
    (void)accessible;
    const auto* p = std::get_if<image::StatusBarProperties>(&u.record->properties);
    return new StatusBar(p != nullptr ? *p : image::StatusBarProperties{}, FromGbk(u.record->name),
                         w.widget);
}

void PlaceStatusBars(WindowState& w) {
    // Docked to the bottom edge, as status bars are, at their stored height and above the
    // other units, so a list reaching down to it never covers the panes.
    for (auto& [id, u] : w.units) {
        if (u->type != type::kStatusBar || u->widget == nullptr) continue;
        const int height = u->record->height;
        u->widget->setGeometry(0, w.widget->height() - height, w.widget->width(), height);
        u->widget->raise();
    }
}

void RunFacetCommand(std::uint32_t command, std::uint32_t n, const Value* a, Value* r) {
    *r = OmittedValue();
    if (n == 0) return;
    UnitState* u = FindUnit(static_cast<std::uint32_t>(a[0].low), a[0].high);
    if (QTableWidget* list = ListOf(u)) ListCommand(*list, command, n, a, r);
    if (StatusBar* bar = BarOf(u)) StatusCommand(*bar, command, n, a, r);
}

}  // namespace tessel::qt
