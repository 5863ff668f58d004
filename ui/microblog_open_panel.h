// The content panel that opens a microblog for the account: the user chooses a nickname of at most
// 24 bytes of the system code page (12 double-byte characters) and starts the activation; the
// service's refusals are shown in the panel's two notice labels.
#pragma once

#include <string>

#include "host/skin.h"

namespace microblog {

class MicroBlogPanel;

constexpr std::size_t kNickNameMaxBytes = 24;

class MicroBlogOpenPanel : public tavi::CSkinPanel {
public:
    explicit MicroBlogOpenPanel(MicroBlogPanel* owner);
    ~MicroBlogOpenPanel() override;

    int Create(void* hostParent);
    // Finds the controls, gives the nickname edit its window and hides the two notices.
    int OnBuildControlAfter() override;

    // Before the panel is shown from the start panel: an empty nickname and no nickname notice.
    void ClearForNewNickName();
    // The service's refusal of an activation: 400 in the nickname notice, 403 in the notice for the
    // refused account. Other statuses show nothing.
    void ShowActivationRefusal(int status, const std::string& message);

    tavi::CSWColorEdit* GetNickNameEdit() const { return edtNickName_; }
    MicroBlogPanel* GetOwner() const { return owner_; }
    void* GetHostParent() const { return hostParent_; }

private:
    void OnEvent(tavi::CSkinObject* sender, void* data);
    void ShowNotice(tavi::CSkinObject* label, const std::string& text);
    void StartMicroBlog();

    MicroBlogPanel* owner_;
    void* hostParent_ = nullptr;
    tavi::CSkinObject* labelInputNickName_ = nullptr;
    tavi::CSWColorEdit* edtNickName_ = nullptr;
    tavi::CSkinObject* labelInputNotice_ = nullptr;
    tavi::CSkinObject* btnStartMicroBlog_ = nullptr;
    tavi::CSkinObject* labelAccountNotice_ = nullptr;
    tavi::CSkinObject* labelAccountNoticeforShort_ = nullptr;
    tavi::CSkinObject* labelBindOtherAccount_ = nullptr;
};

} // namespace microblog
