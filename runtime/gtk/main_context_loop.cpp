#include "runtime/gtk/main_context_loop.h"

#include <algorithm>

namespace tavi::runtime::gtk {
namespace {

struct LoopSource {
    GSource base;
    MainContextLoop* owner;
};

gboolean Prepare(GSource* source, gint* timeout) {
    std::int64_t wait = reinterpret_cast<LoopSource*>(source)->owner->GetLoop().MillisecondsUntilReady();
    *timeout = wait < 0 ? -1 : static_cast<gint>(std::min<std::int64_t>(wait, G_MAXINT));
    return wait == 0;
}

gboolean Check(GSource* source) {
    return reinterpret_cast<LoopSource*>(source)->owner->GetLoop().MillisecondsUntilReady() == 0;
}

gboolean Dispatch(GSource* source, GSourceFunc, gpointer) {
    MainContextLoop* owner = reinterpret_cast<LoopSource*>(source)->owner;
    // What is ready now; calls posted meanwhile make the source ready again for the next iteration,
    // so the toolkit's own events are not starved by a stream of posts.
    if (owner->GetLoop().DispatchReady() && owner->afterDispatch)
        owner->afterDispatch();
    return G_SOURCE_CONTINUE;
}

GSourceFuncs kLoopSourceFuncs = {Prepare, Check, Dispatch, nullptr, nullptr, nullptr};

gboolean TimeoutDone(gpointer) { return G_SOURCE_REMOVE; }

} // namespace

MainContextLoop::MainContextLoop(UiLoop& loop) : loop_(loop), context_(g_main_context_ref_thread_default()) {
    source_ = g_source_new(&kLoopSourceFuncs, sizeof(LoopSource));
    reinterpret_cast<LoopSource*>(source_)->owner = this;
    g_source_set_name(source_, "tavi user-interface loop");
    // A call that waits for work (a command's "wait", a modal dialog) iterates the context from
    // inside a dispatch of this source; the loop's own work must still run then.
    g_source_set_can_recurse(source_, TRUE);
    g_source_attach(source_, context_);
    loop_.SetDriver(this);
}

MainContextLoop::~MainContextLoop() {
    loop_.SetDriver(nullptr);
    g_source_destroy(source_);
    g_source_unref(source_);
    g_main_context_unref(context_);
}

void MainContextLoop::Wake() { g_main_context_wakeup(context_); }

void MainContextLoop::Iterate(std::int64_t maxWaitMilliseconds) {
    if (maxWaitMilliseconds <= 0) {
        g_main_context_iteration(context_, FALSE);
        return;
    }
    GSource* bound = g_timeout_source_new(static_cast<guint>(std::min<std::int64_t>(maxWaitMilliseconds, G_MAXUINT)));
    g_source_set_callback(bound, TimeoutDone, nullptr, nullptr);
    g_source_attach(bound, context_);
    g_main_context_iteration(context_, TRUE);
    g_source_destroy(bound);
    g_source_unref(bound);
}

} // namespace tavi::runtime::gtk
