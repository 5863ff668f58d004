#include "runtime/core/host_services.h"

#include <algorithm>

#include "runtime/core/user_store.h"

namespace tavi::runtime {

void Notifier::ShowNotice(int kind, const NoticeRecord& record) {
    Notice notice{kind, record};
    {
        std::lock_guard<std::mutex> lock(mutex_);
        notices_.push_back(notice);
    }
    if (onNotice)
        onNotice(notice);
}

void Notifier::ShowBalloon(CSkinObject* anchor, const std::string& text, int milliseconds) {
    Balloon balloon{anchor ? anchor->GetObjectId() : std::string(), text, milliseconds};
    {
        std::lock_guard<std::mutex> lock(mutex_);
        balloons_.push_back(balloon);
    }
    if (onBalloon)
        onBalloon(balloon);
}

std::vector<Notifier::Notice> Notifier::GetNotices() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return notices_;
}

std::vector<Notifier::Balloon> Notifier::GetBalloons() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return balloons_;
}

void Notifier::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    notices_.clear();
    balloons_.clear();
}

int PluginWindowHost::AddPluginWindow(IPluginWindow* window) {
    if (window == nullptr)
        return 0;
    if (std::find(windows_.begin(), windows_.end(), window) != windows_.end())
        return 1;
    windows_.push_back(window);
    window->BuildPluginWindow();
    return 1;
}

int PluginWindowHost::RemovePluginWindow(IPluginWindow* window) {
    auto found = std::find(windows_.begin(), windows_.end(), window);
    if (found == windows_.end())
        return 0;
    windows_.erase(found);
    if (onRemoved)
        onRemoved(window);
    window->DestroyPluginWindow();
    return 1;
}

std::uint32_t TimeTagService::GetTimeTag(const std::string& name) {
    return store_.GetTimeTag(account_, name).value_or(0);
}

void TimeTagService::SetTimeTag(const std::string& name, std::uint32_t value) {
    store_.SetTimeTag(account_, name, value);
}

} // namespace tavi::runtime
