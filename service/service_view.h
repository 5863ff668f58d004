// What the service needs of the plug-in's window and panels, which sit above it: the window
// implements this and hands itself to the service at load.
#pragma once

#include <string>

namespace microblog {

class ServiceView {
public:
    virtual ~ServiceView() = default;
    // Brings the plug-in window forward in the host layout.
    virtual void ShowInHost() = 0;
    // The main panel reloads the home timeline.
    virtual void RefreshTimeline() = 0;
    // The timeline list shows the page at this path.
    virtual void ShowPage(const std::string& path) = 0;
    // The open panel shows the service's refusal of an activation: 400 in the nickname notice,
    // 403 in the notice for the refused account.
    virtual void ShowActivationRefusal(int status, const std::string& message) = 0;
    // The forms: settings (one per process), compose ("update"), retweet and comment.
    virtual void ShowConfigForm() = 0;
    virtual void ShowPublishForm(const std::string& kind) = 0;
    virtual void ShowReplyForm(const std::string& kind, const std::string& id, const std::string& text) = 0;
    // Releases the settings form at unload.
    virtual void DestroyConfigForm() = 0;
};

} // namespace microblog
