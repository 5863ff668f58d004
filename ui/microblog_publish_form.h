// MicroBlogPublishForm: the free-standing window in which the user writes a new status ("update"),
// retweets a status of the timeline ("retweet") or comments on one ("comment"). It counts the text
// against the status limit, offers the mode's options, sends through the service, reports failures
// inside the form and hides itself after a successful send. Each publish action makes a new form;
// a form that was hidden is never shown again and releases itself once no send is outstanding.
#pragma once

#include <cstdint>
#include <string>

#include "host/core.h"
#include "host/skin.h"

namespace microblog {

class IMicroBlogService;

// The longest status, in UTF-16 code units of the cleaned text.
constexpr int MaxStatusChars = 150;
// The counter's colours: within the limit, and beyond it.
constexpr tavi::COLORREF kCounterColor = 0x9B562F;
constexpr tavi::COLORREF kCounterOverColor = 0x0000FF;

// White space trimmed at both ends (blanks, tabs, line breaks).
std::string TrimBlanks(const std::string& text);
// The text as it is counted and published: every line feed becomes one blank, every carriage return
// is dropped, all other bytes stay.
std::string CleanStatusText(const std::string& text);
// How many UTF-16 code units narrow text of the system code page takes.
int CountUtf16Units(const std::string& narrow);
// A table text with its first "%s" replaced by value. Any other '%' stays as it is, so a text of
// the string table can never make the formatting read arguments that are not there.
std::string FormatText(const std::string& format, const std::string& value);

class MicroBlogPublishForm : public tavi::CSkinForm {
public:
    // Mode "update".
    MicroBlogPublishForm(tavi::ITavi* host, const std::string& mode);
    // Modes "retweet" and "comment", for the status with that id.
    MicroBlogPublishForm(tavi::ITavi* host, const std::string& mode, const std::string& statusId,
                         const std::string& text);
    ~MicroBlogPublishForm() override;

    // Creates and builds the window (hidden); 0 when it cannot be made.
    int Create(void* parent);
    // Deletes the form, or, while a send is outstanding, when its result has come.
    void Release() override;
    int OnBuildControlAfter() override;
    void OnSetSkinData() override;

    // The window title of a mode, with the author of the status for a comment.
    void SetModeTitle(const std::string& mode, const std::string& author);
    // Counts the edit's text and shows what is left, or how far it is over the limit.
    void UpdateCharCount();
    // Event 1 of the form: a click on ButtonSend sends the text as the mode says.
    void OnSendClicked(tavi::CSkinObject* sender, void* data);
    // Event 2 of the form: the edit's content changed.
    void OnContentChanged(tavi::CSkinObject* sender, void* data);
    // The result of the send.
    void OnSendResult(tavi::ITavi* host, tavi::IAsync_CallbackParam* record);

    const std::string& GetMode() const { return mode_; }
    const std::string& GetStatusId() const { return statusId_; }
    // A send was made and its result has not come yet.
    bool IsSending() const { return sending_; }

protected:
    // The close and the destroy message both hide the form.
    void OnClose() override;
    void OnDestroy() override;
    std::intptr_t WindowProc(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) override;

private:
    IMicroBlogService* Service() const;
    void ShowBalloon(const std::string& text);
    void ApplyMode(const std::string& author, const std::string& rootAuthor);
    // Shows the failure of a send and lets the user send again.
    void ShowSendFailure(const std::string& errorText);
    // Hides the form for good and asks for its release once nothing is outstanding.
    void Retire();

    tavi::ITavi* host_;
    std::string mode_;
    std::string statusId_;
    std::string statusText_;

    tavi::CSkinObject* sendButton_ = nullptr;
    tavi::CSkinLabel* sendStatus_ = nullptr;
    tavi::CSkinLabel* inputStatusFirst_ = nullptr;
    tavi::CSkinLabel* numberLeft_ = nullptr;
    tavi::CSWColorEdit* content_ = nullptr;
    tavi::CSkinObject* panelBorder_ = nullptr;
    tavi::CSkinObject* panelOption_ = nullptr;
    tavi::CSkinCheckBox* chkRetweet_ = nullptr;
    tavi::CSkinCheckBox* chkComment_ = nullptr;
    tavi::CSkinCheckBox* chkCommentRoot_ = nullptr;

    bool sending_ = false;
    bool retired_ = false;
    bool releaseWhenAnswered_ = false;
    // The form's height as built, before the reply modes add the option panel's height.
    int builtHeight_ = -1;
};

} // namespace microblog
