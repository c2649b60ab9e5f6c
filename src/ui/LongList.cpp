// MixerView's long lists: more than kMaxBuiltRows rows, of which only the ones
// in and near the viewport have widgets.
#include "AppRow.h"
#include "LevelMeter.h"
#include "MixerModel.h"
#include "MixerView.h"

#include <QApplication>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>
#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

namespace corvalle::ui {

// Each app id of a list once, where it first comes, and its place in the list.
// Ids are found by their hashes in a sorted vector: for tens of thousands of ids
// that is several times faster than a hash table of strings.
class MixerView::ListIndex {
public:
    explicit ListIndex(const std::vector<AudioApp>& apps) : apps_(apps) {
        byHash_.reserve(apps.size());
        for (std::size_t i = 0; i < apps.size(); ++i) {
            byHash_.emplace_back(qHash(apps[i].id), i);
        }
        std::sort(byHash_.begin(), byHash_.end());
        // Entries of one hash are in list order: one with the id of an earlier
        // one repeats it and gets no row.
        std::vector<bool> repeated(apps.size());
        for (auto run = byHash_.begin(); run != byHash_.end();) {
            const auto end = std::find_if(
                run, byHash_.end(), [&](const Entry& entry) { return entry.first != run->first; });
            for (auto later = std::next(run); later != end; ++later) {
                repeated[later->second] = std::any_of(run, later, [&](const Entry& earlier) {
                    return apps[earlier.second].id == apps[later->second].id;
                });
            }
            run = end;
        }
        order.reserve(apps.size());
        for (std::size_t i = 0; i < apps.size(); ++i) {
            if (!repeated[i]) {
                order.push_back(i);
            }
        }
    }

    // The place in `order` of the row of `id`, if the list has one.
    std::optional<int> position(const QString& id) const {
        const std::size_t hash = qHash(id);
        for (auto entry = std::lower_bound(byHash_.begin(), byHash_.end(), Entry{hash, 0});
             entry != byHash_.end() && entry->first == hash; ++entry) {
            if (apps_[entry->second].id == id) {
                const auto place = std::lower_bound(order.begin(), order.end(), entry->second);
                return static_cast<int>(place - order.begin());
            }
        }
        return std::nullopt;
    }

    // The index in the list of each row's app, in the list's order.
    std::vector<std::size_t> order;

private:
    using Entry = std::pair<std::size_t, std::size_t>;
    const std::vector<AudioApp>& apps_;
    std::vector<Entry> byHash_;
};

bool MixerView::redrawLongList() {
    const auto& apps = model_.apps();
    const ListIndex index(apps);
    if (index.order.size() <= kMaxBuiltRows) {
        return false;
    }
    if (!isLongList()) {
        for (AppRow* appRow : rows()) {
            rowsLayout_->removeWidget(appRow);
        }
    }
    order_ = index.order;
    placed_.clear();
    std::map<QString, AppRow*> kept;
    for (auto& [id, appRow] : rows_) {
        const std::optional<int> position = index.position(id);
        if (!position) {
            appRow->hide();
            spare_.push_back(appRow);
            continue;
        }
        appRow->setApp(apps[order_[static_cast<std::size_t>(*position)]]);
        placed_.emplace(*position, appRow);
        kept.emplace(id, appRow);
    }
    rows_ = std::move(kept);
    // The full list's height, as the layout would make it: a pitch per row, less
    // the spacing after the last.
    const auto height = static_cast<int>(order_.size()) * kRowPitch - (kRowPitch - AppRow::kHeight);
    if (list_->widget()->minimumHeight() != height) {
        list_->widget()->setMinimumHeight(height);
    }
    buildWindow();
    return true;
}

void MixerView::leaveLongList() {
    if (!isLongList()) {
        return;
    }
    order_.clear();
    placed_.clear();
    // Rows in the layout again; rows_ keeps the built ones for redrawApps to reuse.
    list_->widget()->setMinimumHeight(0);
    for (AppRow* spare : spare_) {
        spare->deleteLater();
    }
    spare_.clear();
}

AppRow* MixerView::rowOf(QWidget* widget) const {
    for (; widget != nullptr; widget = widget->parentWidget()) {
        if (auto* appRow = qobject_cast<AppRow*>(widget)) {
            return appRow->parentWidget() == list_->widget() ? appRow : nullptr;
        }
    }
    return nullptr;
}

// A row that leaves the window is hidden and kept to be shown for another app,
// not deleted: it may be the one a key or wheel event is being delivered to.
void MixerView::buildWindow() {
    if (!isLongList()) {
        return;
    }
    const int count = static_cast<int>(order_.size());
    const int top = list_->verticalScrollBar()->value();
    const int first = std::clamp(top / kRowPitch - kWindowMargin, 0, count - 1);
    const int last = std::clamp((top + list_->viewport()->height()) / kRowPitch + kWindowMargin,
                                first, count - 1);
    const AppRow* focused = rowOf(QApplication::focusWidget());
    for (auto placed = placed_.begin(); placed != placed_.end();) {
        auto [position, appRow] = *placed;
        if ((position >= first && position <= last) || appRow == focused || appRow->isDragged()) {
            ++placed;
            continue;
        }
        appRow->hide();
        rows_.erase(appRow->appID());
        spare_.push_back(appRow);
        placed = placed_.erase(placed);
    }
    const auto& apps = model_.apps();
    bool built = false;
    for (int position = first; position <= last; ++position) {
        if (placed_.contains(position)) {
            continue;
        }
        AppRow* appRow = makeRow(apps[order_[static_cast<std::size_t>(position)]]);
        placed_.emplace(position, appRow);
        rows_.emplace(appRow->appID(), appRow);
        built = true;
    }
    for (const auto& [position, appRow] : placed_) {
        placeRow(*appRow, position);
        appRow->show();
    }
    if (built) {
        orderTabs();
    }
    // Spares for one more window at most: a list that was short had a row each.
    const int keep = last - first + 1;
    while (static_cast<int>(spare_.size()) > keep) {
        spare_.back()->deleteLater();
        spare_.pop_back();
    }
}

AppRow* MixerView::makeRow(const AudioApp& app) {
    if (spare_.empty()) {
        return new AppRow(model_, app, list_->widget());
    }
    AppRow* appRow = spare_.back();
    spare_.pop_back();
    appRow->setApp(app);
    // Its meter showed another app's level.
    appRow->meter()->clear();
    return appRow;
}

void MixerView::placeRow(AppRow& row, int position) const {
    const QRect place(0, position * kRowPitch, list_->widget()->width(), AppRow::kHeight);
    if (row.geometry() != place) {
        row.setGeometry(place);
    }
}

// Tab and the arrow keys go through the rows in the order shown, each row's
// controls as it made them, after Quit, as when the rows are made after it.
void MixerView::orderTabs() {
    QWidget* previous = quitButton_;
    for (const auto& [position, appRow] : placed_) {
        for (QObject* child : appRow->children()) {
            auto* control = qobject_cast<QWidget*>(child);
            if (control != nullptr && (control->focusPolicy() & Qt::TabFocus) == Qt::TabFocus) {
                setTabOrder(previous, control);
                previous = control;
            }
        }
    }
}

void MixerView::followViewport() {
    if (!isLongList()) {
        return;
    }
    buildWindow();
    if (isVisible()) {
        updateShownRows();
    }
}

} // namespace corvalle::ui
