// The content panel that tells the user what the sign-in found out about the account: one of four
// states as a sentence naming the account, at most one action link for that state, and the link
// to bind another account in the settings form.
#pragma once

#include "host/skin.h"

namespace microblog {

class MicroBlogPanel;

enum StartPanelState {
    AccountOk = 0,    // signed in and the account has a microblog, not bound yet
    AccountNotOk = 1, // signed in, but the account has no microblog
    AuthError = 2,    // the sign-in failed
    DomainError = 3,  // the account is not a mail address of a known domain
};

class MicroBlogStartPanel : public tavi::CSkinPanel {
public:
    explicit MicroBlogStartPanel(MicroBlogPanel* owner);
    ~MicroBlogStartPanel() override;

    int Create(void* hostParent);
    int OnBuildControlAfter() override;

    // Shows the state's sentence with the account name and the state's link.
    void SetState(int state);

    MicroBlogPanel* GetOwner() const { return owner_; }
    void* GetHostParent() const { return hostParent_; }

private:
    void OnEvent(tavi::CSkinObject* sender, void* data);

    MicroBlogPanel* owner_;
    void* hostParent_ = nullptr;
    tavi::CSkinObject* labelAccountStatus_ = nullptr;
    tavi::CSkinObject* labelUseThisAccount_ = nullptr;
    tavi::CSkinObject* labelBindOtherAccount_ = nullptr;
    tavi::CSkinObject* labelOpenThisAccount_ = nullptr;
    tavi::CSkinObject* labelRetry_ = nullptr;
};

} // namespace microblog
