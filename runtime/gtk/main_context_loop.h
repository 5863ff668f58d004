// The windowed host's user-interface thread: the host's loop runs as a source of GLib's main
// context, so posted calls, delayed calls and result callbacks run between the toolkit's events
// and an idle window wakes only when something is due.
#pragma once

#include <glib.h>

#include <functional>

#include "runtime/core/ui_loop.h"

namespace tavi::runtime::gtk {

class MainContextLoop : public UiLoopDriver {
public:
    // Attaches to the thread-default main context of the calling thread (the default one when none).
    explicit MainContextLoop(UiLoop& loop);
    ~MainContextLoop() override;
    MainContextLoop(const MainContextLoop&) = delete;
    MainContextLoop& operator=(const MainContextLoop&) = delete;

    void Wake() override;
    void Iterate(std::int64_t maxWaitMilliseconds) override;

    GMainContext* GetContext() const { return context_; }
    // Runs after each batch of the loop's work (the windowed view catches up with the model).
    std::function<void()> afterDispatch;
    UiLoop& GetLoop() const { return loop_; }

private:
    UiLoop& loop_;
    GMainContext* context_;
    GSource* source_;
};

} // namespace tavi::runtime::gtk
