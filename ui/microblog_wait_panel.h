// The content panel shown while the state of the user's microblog account is not known yet: from
// the moment the panels are made, and again at the start of every sign-in. One label, no actions.
#pragma once

#include "host/skin.h"

namespace microblog {

class MicroBlogPanel;

class MicroBlogWaitPanel : public tavi::CSkinPanel {
public:
    explicit MicroBlogWaitPanel(MicroBlogPanel* owner);
    ~MicroBlogWaitPanel() override;

    // Builds the panel from its skin node; 1 on success, 0 when the node is missing or the build fails.
    int Create(void* hostParent);
    // Finds LabelWait; without it the build fails.
    int OnBuildControlAfter() override;

    MicroBlogPanel* GetOwner() const { return owner_; }
    void* GetHostParent() const { return hostParent_; }

private:
    void OnEvent(tavi::CSkinObject* sender, void* data);

    MicroBlogPanel* owner_;
    void* hostParent_ = nullptr;
    tavi::CSkinObject* labelWait_ = nullptr;
};

} // namespace microblog
