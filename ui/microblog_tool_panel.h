// The strip of buttons above the content: publish, reload, and the user's pages on the microblog
// web site (my microblog, mentions, comments, favourites). The mentions and comments buttons each
// have a "New" twin that stands in for them while unseen items wait.
#pragma once

#include <string>

#include "host/module_state.h"
#include "host/skin.h"

namespace microblog {

class MicroBlogPanel;

class MicroBlogToolPanel : public tavi::CSkinPanel {
public:
    // moduleState is the plug-in library's framework state, under which the buttons' handler runs.
    MicroBlogToolPanel(MicroBlogPanel* owner, tavi::ModuleState* moduleState);
    ~MicroBlogToolPanel() override;

    // Builds the strip with publish and reload disabled.
    int Create(void* hostParent);
    int OnBuildControlAfter() override;

    // Publish and reload: off while signing in, on once a home timeline arrived.
    void SetActionsEnabled(int enabled);
    // The balloon at the reload button when the service refused the request's time.
    void ShowTimeRefusedTip();
    // The reminder counts of new mentions and new comments: a count above what the user has seen
    // shows the "New" twin in place of its button, and clicking the twin marks the count seen.
    void ShowNewItemCounts(int mentions, int comments);

    MicroBlogPanel* GetOwner() const { return owner_; }
    void* GetHostParent() const { return hostParent_; }

private:
    // One button and its "New" twin.
    struct NewItemPair {
        tavi::CSkinObject* plain = nullptr;
        tavi::CSkinObject* fresh = nullptr;
        int count = 0; // last count reported
        int seen = 0;  // count when the user last opened the page
    };

    void OnEvent(tavi::CSkinObject* sender, void* data);
    // Opens the user's page on the web site at the fragment; nothing before a credential check.
    void OpenUserPage(const char* fragment);
    void ShowNewItemPair(NewItemPair& pair, int count);
    void MarkSeen(NewItemPair& pair);

    MicroBlogPanel* owner_;
    tavi::ModuleState* moduleState_;
    void* hostParent_ = nullptr;
    tavi::CSkinObject* btnPublish_ = nullptr;
    tavi::CSkinObject* btnMainForm_ = nullptr;
    tavi::CSkinObject* btnMyBlog_ = nullptr;
    NewItemPair atMe_;
    NewItemPair comment_;
    tavi::CSkinObject* btnCollect_ = nullptr;
};

} // namespace microblog
