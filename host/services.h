// Host services the plug-in reaches by id: the plug-in window host (1001), the notifier (1002)
// and the time tags (11).
#pragma once

#include <cstdint>
#include <string>

#include "host/core.h"

namespace tavi {

class IPluginWindow;
class CSkinObject;

// Service 1001: places plug-in windows in the host layout.
class IPluginWindowHost : public IService {
public:
    IPluginWindowHost() : IService(kServicePluginWindows) {}
    virtual int AddPluginWindow(IPluginWindow* window) = 0;
    virtual int RemovePluginWindow(IPluginWindow* window) = 0;
};

// The notice record the notifier shows as a pop-up.
struct NoticeRecord {
    std::string title;
    std::string content;
    ITavi* owner = nullptr;
    int displayMilliseconds = 5000;
    int style = 7;
};

// Service 1002: pop-up notices and balloon tips.
class INotifier : public IService {
public:
    INotifier() : IService(kServiceNotifier) {}
    virtual void ShowNotice(int kind, const NoticeRecord& record) = 0;
    // A balloon tip at the given control (null: no anchor), shown for the given time.
    virtual void ShowBalloon(CSkinObject* anchor, const std::string& text, int milliseconds) = 0;
};

// Service 11: named time tags of the signed-in user's synchronised data.
class ITimeTagService : public IService {
public:
    ITimeTagService() : IService(kServiceTimeTags) {}
    virtual std::uint32_t GetTimeTag(const std::string& name) = 0;
    virtual void SetTimeTag(const std::string& name, std::uint32_t value) = 0;
};

} // namespace tavi
