// The host's built-in services: the notifier (1002), which records every notice and balloon for the
// host program to show; the plug-in window host (1001); the time tags (11).
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "host/plugin.h"
#include "host/services.h"

namespace tavi::runtime {

class UserStore;

class Notifier : public INotifier {
public:
    struct Notice {
        int kind;
        NoticeRecord record;
    };
    struct Balloon {
        std::string anchor; // object id of the anchor control, empty without one
        std::string text;
        int milliseconds;
    };

    void Release() override {}
    void ShowNotice(int kind, const NoticeRecord& record) override;
    void ShowBalloon(CSkinObject* anchor, const std::string& text, int milliseconds) override;

    std::vector<Notice> GetNotices() const;
    std::vector<Balloon> GetBalloons() const;
    void Clear();
    // Called as each notice or balloon is raised (user-interface thread).
    std::function<void(const Notice&)> onNotice;
    std::function<void(const Balloon&)> onBalloon;

private:
    mutable std::mutex mutex_;
    std::vector<Notice> notices_;
    std::vector<Balloon> balloons_;
};

class PluginWindowHost : public IPluginWindowHost {
public:
    void Release() override {}
    // Places the window in the host layout and builds it.
    int AddPluginWindow(IPluginWindow* window) override;
    int RemovePluginWindow(IPluginWindow* window) override;
    const std::vector<IPluginWindow*>& GetWindows() const { return windows_; }
    // Called when a plug-in takes its window back, before the window is torn down: the host's
    // layout lets go of it, since the plug-in may free it right after.
    std::function<void(IPluginWindow*)> onRemoved;

private:
    std::vector<IPluginWindow*> windows_;
};

class TimeTagService : public ITimeTagService {
public:
    TimeTagService(UserStore& store, std::string account) : store_(store), account_(std::move(account)) {}
    void Release() override {}
    std::uint32_t GetTimeTag(const std::string& name) override;
    void SetTimeTag(const std::string& name, std::uint32_t value) override;

private:
    UserStore& store_;
    std::string account_;
};

} // namespace tavi::runtime
