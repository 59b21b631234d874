#include "Accessibility.h"

#include "AccessibilityBus.h"
#include "platform/linux/Bounded.h"

#include <atspi/atspi.h>
#include <chrono>
#include <mutex>

namespace tarvine::adapters::atspi {

namespace {

using namespace std::chrono_literals;
using Steady = std::chrono::steady_clock;

constexpr auto busLimit = 2000ms;
// Each call to an application may take this long (the application's messaging timeout).
constexpr int callLimitMs = 500;
// A search for the focused element gives up after this many elements or this long.
constexpr int searchBudget = 2000;
constexpr auto searchLimit = 1500ms;

// Owned references from libatspi, released however a call ends.
template <class T> struct Ref {
    T* object = nullptr;
    explicit Ref(T* o = nullptr) : object(o) {}
    ~Ref() {
        if (object) g_object_unref(object);
    }
    Ref(Ref&& other) noexcept : object(std::exchange(other.object, nullptr)) {}
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    Ref& operator=(Ref&& other) noexcept {
        std::swap(object, other.object);
        return *this;
    }
    T* get() const { return object; }
    explicit operator bool() const { return object != nullptr; }
};

using Accessible = Ref<AtspiAccessible>;

// libatspi keeps process-wide state and is not thread-safe: one caller at a time.
std::mutex& lock() {
    static std::mutex m;
    return m;
}

bool initialised() {
    static const bool ok = [] {
        if (atspi_init() > 1) return false;
        atspi_set_timeout(callLimitMs, 2 * callLimitMs);
        return true;
    }();
    return ok;
}

// Nobody runs GLib's default context here; what the bus sent meanwhile is handled now so that
// it does not pile up.
void drainBusMessages() {
    for (int i = 0; i < 1000 && g_main_context_iteration(nullptr, FALSE); ++i) {
    }
}

bool hasState(AtspiAccessible* accessible, AtspiStateType state) {
    Ref<AtspiStateSet> states(atspi_accessible_get_state_set(accessible));
    return states && atspi_state_set_contains(states.get(), state);
}

Accessible applicationWithPid(std::int32_t pid) {
    Accessible desktop(atspi_get_desktop(0));
    if (!desktop) return Accessible();
    const int count = atspi_accessible_get_child_count(desktop.get(), nullptr);
    for (int i = 0; i < count; ++i) {
        Accessible app(atspi_accessible_get_child_at_index(desktop.get(), i, nullptr));
        if (app && std::int32_t(atspi_accessible_get_process_id(app.get(), nullptr)) == pid)
            return app;
    }
    return Accessible();
}

// One call through the Collection interface, where the toolkit offers it.
Accessible focusedByCollection(AtspiAccessible* app) {
    Ref<AtspiCollection> collection(atspi_accessible_get_collection_iface(app));
    if (!collection) return Accessible();
    Ref<AtspiStateSet> states(atspi_state_set_new(nullptr));
    atspi_state_set_add(states.get(), ATSPI_STATE_FOCUSED);
    Ref<AtspiMatchRule> rule(atspi_match_rule_new(
        states.get(), ATSPI_Collection_MATCH_ALL, nullptr, ATSPI_Collection_MATCH_NONE, nullptr,
        ATSPI_Collection_MATCH_NONE, nullptr, ATSPI_Collection_MATCH_NONE, FALSE));
    GError* error = nullptr;
    GArray* matches = atspi_collection_get_matches(
        collection.get(), rule.get(), ATSPI_Collection_SORT_ORDER_CANONICAL, 1, TRUE, &error);
    if (error) g_error_free(error);
    if (!matches) return Accessible();
    Accessible found;
    for (guint i = 0; i < matches->len; ++i) {
        auto* item = g_array_index(matches, AtspiAccessible*, i);
        if (!found)
            found = Accessible(item);
        else
            g_object_unref(item);
    }
    g_array_free(matches, TRUE);
    return found;
}

// Otherwise a walk through the showing part of the tree, within a budget.
Accessible focusedByWalk(AtspiAccessible* node, int& budget, Steady::time_point deadline) {
    if (--budget < 0 || Steady::now() > deadline) return Accessible();
    const int count = atspi_accessible_get_child_count(node, nullptr);
    for (int i = 0; i < count && budget >= 0; ++i) {
        Accessible child(atspi_accessible_get_child_at_index(node, i, nullptr));
        if (!child || !hasState(child.get(), ATSPI_STATE_SHOWING)) continue;
        if (hasState(child.get(), ATSPI_STATE_FOCUSED)) return child;
        if (auto found = focusedByWalk(child.get(), budget, deadline)) return found;
    }
    return Accessible();
}

std::optional<std::string> selectedText(AtspiAccessible* accessible) {
    Ref<AtspiText> text(atspi_accessible_get_text_iface(accessible));
    if (!text) return std::nullopt;
    const int count = atspi_text_get_n_selections(text.get(), nullptr);
    std::string joined;
    for (int i = 0; i < count; ++i) {
        AtspiRange* range = atspi_text_get_selection(text.get(), i, nullptr);
        if (!range) continue;
        gchar* part =
            atspi_text_get_text(text.get(), range->start_offset, range->end_offset, nullptr);
        g_free(range);
        if (!part) continue;
        joined += part;
        g_free(part);
    }
    if (count <= 0) return std::nullopt;
    return joined;
}

class AtspiAccessibility final : public platform::Accessibility {
public:
    bool trusted() override {
        return bounded(busLimit + 500ms, false, [] { return accessibilityBusReachable(busLimit); });
    }

    std::optional<platform::FocusedElement> focusedElement(std::int32_t pid) override {
        std::lock_guard guard(lock());
        if (!initialised()) return std::nullopt;
        drainBusMessages();
        Accessible app = applicationWithPid(pid);
        if (!app) return std::nullopt;
        Accessible focused = focusedByCollection(app.get());
        if (!focused) {
            int budget = searchBudget;
            focused = focusedByWalk(app.get(), budget, Steady::now() + searchLimit);
        }
        if (!focused) return std::nullopt;
        platform::FocusedElement element;
        element.secure =
            atspi_accessible_get_role(focused.get(), nullptr) == ATSPI_ROLE_PASSWORD_TEXT;
        if (!element.secure) element.selectedText = selectedText(focused.get());
        return element;
    }

    // Whether another client holds the keyboard cannot be asked without grabbing it ourselves,
    // which would disturb the focused application: not known here.
    bool secureEventInput() override { return false; }
};

} // namespace

std::unique_ptr<platform::Accessibility> makeAccessibility() {
    return std::make_unique<AtspiAccessibility>();
}

} // namespace tarvine::adapters::atspi
