#include "accessible_text_atspi.h"

#include "target_window.h"

#include "atspi_support.h"

#include <unistd.h>

#include <chrono>
#include <deque>
#include <memory>
#include <vector>

namespace vozmo {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::chrono::milliseconds kSearchLimit{1500};
constexpr int kMostNodes = 4000;

using atspi::connected;
using atspi::GErrorHolder;
using atspi::GRef;

bool hasText(AtspiAccessible* object) {
    return GRef<AtspiText>(atspi_accessible_get_text_iface(object)) != nullptr;
}

bool hasState(AtspiAccessible* object, AtspiStateType state) {
    GRef<AtspiStateSet> states(atspi_accessible_get_state_set(object));
    return states && atspi_state_set_contains(states.get(), state);
}

// The focused object below `root`, by one Collection query.
GRef<AtspiAccessible> focusedByCollection(AtspiAccessible* root) {
    GRef<AtspiCollection> collection(atspi_accessible_get_collection_iface(root));
    if (!collection) {
        return nullptr;
    }
    GRef<AtspiStateSet> states(atspi_state_set_new(nullptr));
    atspi_state_set_add(states.get(), ATSPI_STATE_FOCUSED);
    GRef<AtspiMatchRule> rule(atspi_match_rule_new(
        states.get(), ATSPI_Collection_MATCH_ALL, nullptr, ATSPI_Collection_MATCH_ALL, nullptr,
        ATSPI_Collection_MATCH_ALL, nullptr, ATSPI_Collection_MATCH_ALL, FALSE));
    GErrorHolder error;
    GArray* matches = atspi_collection_get_matches(
        collection.get(), rule.get(), ATSPI_Collection_SORT_ORDER_CANONICAL, 0, TRUE, error.out());
    if (matches == nullptr) {
        return nullptr;
    }
    GRef<AtspiAccessible> found;
    for (guint i = 0; i < matches->len; ++i) {
        GRef<AtspiAccessible> match(g_array_index(matches, AtspiAccessible*, i));
        if (!found || (hasText(match.get()) && !hasText(found.get()))) {
            found = std::move(match);
        }
    }
    g_array_free(matches, TRUE);
    return found;
}

// The focused object below `root`, by walking the tree breadth first through what is showing.
GRef<AtspiAccessible> focusedByWalk(AtspiAccessible* root, Clock::time_point deadline) {
    std::deque<GRef<AtspiAccessible>> queue;
    queue.emplace_back(GRef<AtspiAccessible>(static_cast<AtspiAccessible*>(g_object_ref(root))));
    int visited = 0;
    while (!queue.empty() && visited < kMostNodes && Clock::now() < deadline) {
        GRef<AtspiAccessible> node = std::move(queue.front());
        queue.pop_front();
        ++visited;
        bool isRoot = node.get() == root;
        if (!isRoot) {
            if (hasState(node.get(), ATSPI_STATE_FOCUSED)) {
                return node;
            }
            if (!hasState(node.get(), ATSPI_STATE_SHOWING)) {
                continue;
            }
        }
        GErrorHolder error;
        gint count = atspi_accessible_get_child_count(node.get(), error.out());
        for (gint i = 0; !error.failed() && i < count; ++i) {
            GRef<AtspiAccessible> child(
                atspi_accessible_get_child_at_index(node.get(), i, error.out()));
            if (child) {
                queue.push_back(std::move(child));
            }
        }
    }
    return nullptr;
}

GRef<AtspiAccessible> focusedIn(AtspiAccessible* app, Clock::time_point deadline) {
    // Cached states may be stale: we do not follow the applications' events.
    atspi_accessible_clear_cache(app);
    if (auto found = focusedByCollection(app)) {
        return found;
    }
    if (Clock::now() >= deadline) {
        return nullptr;
    }
    return focusedByWalk(app, deadline);
}

} // namespace

std::optional<std::string> AtspiAccessibleText::textBeforeInsertionPoint(int maxChars) {
    if (maxChars <= 0 || !connected()) {
        return std::nullopt;
    }
    auto deadline = Clock::now() + kSearchLimit;
    pid_t frontPid = 0;
    if (auto front = focusedApp()) {
        frontPid = front->pid;
    }
    // Asking our own process over D-Bus from its main thread could only time out.
    if (frontPid == getpid()) {
        return std::nullopt;
    }

    GRef<AtspiAccessible> desktop(atspi_get_desktop(0));
    if (!desktop) {
        return std::nullopt;
    }
    GErrorHolder error;
    gint appCount = atspi_accessible_get_child_count(desktop.get(), error.out());
    std::vector<GRef<AtspiAccessible>> apps;
    std::vector<GRef<AtspiAccessible>> others;
    for (gint i = 0; !error.failed() && i < appCount; ++i) {
        GRef<AtspiAccessible> app(
            atspi_accessible_get_child_at_index(desktop.get(), i, error.out()));
        if (!app) {
            continue;
        }
        GErrorHolder pidError;
        guint pid = atspi_accessible_get_process_id(app.get(), pidError.out());
        if (pidError.failed() || static_cast<pid_t>(pid) == getpid()) {
            continue;
        }
        if (frontPid != 0 && static_cast<pid_t>(pid) == frontPid) {
            apps.push_back(std::move(app));
        } else {
            others.push_back(std::move(app));
        }
    }
    // A sandboxed application reports another pid than its window; then every application
    // is asked for a focused object.
    if (apps.empty()) {
        apps = std::move(others);
    }

    GRef<AtspiAccessible> focused;
    for (auto& app : apps) {
        if (Clock::now() >= deadline) {
            return std::nullopt;
        }
        focused = focusedIn(app.get(), deadline);
        if (focused) {
            break;
        }
    }
    if (!focused) {
        return std::nullopt;
    }
    GRef<AtspiText> text(atspi_accessible_get_text_iface(focused.get()));
    if (!text) {
        return std::nullopt;
    }
    gint offset = -1;
    gint selections = atspi_text_get_n_selections(text.get(), error.out());
    if (!error.failed() && selections > 0) {
        AtspiRange* range = atspi_text_get_selection(text.get(), 0, error.out());
        if (range != nullptr) {
            offset = std::min(range->start_offset, range->end_offset);
            g_free(range);
        }
    }
    if (offset < 0) {
        offset = atspi_text_get_caret_offset(text.get(), error.out());
        if (error.failed() || offset < 0) {
            return std::nullopt;
        }
    }
    if (offset == 0) {
        return std::string();
    }
    gchar* before =
        atspi_text_get_text(text.get(), std::max(0, offset - maxChars), offset, error.out());
    if (before == nullptr || error.failed()) {
        g_free(before);
        return std::nullopt;
    }
    std::string result(before);
    g_free(before);
    return result;
}

} // namespace vozmo
