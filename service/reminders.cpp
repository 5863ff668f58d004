// The reminder poll and the new-item prompt: every minute the service asks how many new posts
// wait, shows the count on the toolbar button, and at the user's interval raises a notice.
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "host/common.h"
#include "host/global_helper.h"
#include "host/services.h"
#include "service/fixed_texts.h"
#include "service/microblog_result.h"
#include "service/microblog_service.h"

namespace microblog {
namespace {

constexpr int kPollSeconds = 60;
constexpr int kNoticeKind = 11;
constexpr int kNoticeMilliseconds = 20000;
constexpr int kNoticeStyle = 2;

// An interval below one minute (a stored 0, or -1 for a missing key) would re-arm the prompt at
// once, for ever; the default is used instead. A stored interval too large to count in seconds
// waits as long as the timer can.
int PromptSeconds(int interval) {
    if (interval < 1)
        return kDefaultPromptInterval * 60;
    return interval > INT_MAX / 60 ? INT_MAX / 60 * 60 : interval * 60;
}

// The leading decimal number of the text, as the C library reads it; a number beyond the range of
// an int gives the nearest end of the range instead of an undefined value.
int LeadingCount(const std::string& text) {
    long value = std::strtol(text.c_str(), nullptr, 10);
    return static_cast<int>(std::clamp<long>(value, INT_MIN, INT_MAX));
}

} // namespace

void MicroBlogService::StartReminders() {
    tavi::DelayWork* work = tavi::DelayWork::GetInstance();
    work->DelayDo(kPollSeconds, tavi::DelayDelegate(this, &MicroBlogService::PollReminds));
    if (promptEnabled_.load() != 0)
        work->DelayDo(PromptSeconds(promptInterval_.load()), tavi::DelayDelegate(this, &MicroBlogService::PromptNewItems));
}

void MicroBlogService::PollReminds() {
    RequestLatestReminds(Callback(this, &MicroBlogService::OnRemindsResult));
    tavi::DelayWork::GetInstance()->DelayDo(kPollSeconds, tavi::DelayDelegate(this, &MicroBlogService::PollReminds));
}

void MicroBlogService::PromptNewItems() {
    if (promptEnabled_.load() == 0)
        return;
    if (knownNewItems_.load() > 0) {
        auto* notifier = core_ ? static_cast<tavi::INotifier*>(core_->GetService(tavi::kServiceNotifier)) : nullptr;
        if (notifier == nullptr)
            return;
        tavi::NoticeRecord record;
        record.title = tavi::CMutiLanSupport::GetStringViaID("STRID_MB_PROMPT_NEWMICROBLOG");
        record.content = tavi::CMutiLanSupport::GetStringViaID("STRID_MB_PROMPT_NEWMICROBLOGCONTENT");
        record.owner = core_;
        record.displayMilliseconds = kNoticeMilliseconds;
        record.style = kNoticeStyle;
        notifier->ShowNotice(kNoticeKind, record);
    }
    tavi::DelayWork::GetInstance()->DelayDo(PromptSeconds(promptInterval_.load()),
                                            tavi::DelayDelegate(this, &MicroBlogService::PromptNewItems));
}

void MicroBlogService::OnRemindsResult(tavi::ITavi* core, tavi::IAsync_CallbackParam* record) {
    const MicroBlogResult* result = AsResult(record);
    if (core == nullptr || result == nullptr || result->status != 200 || (GetState() & kStateBound) == 0 ||
        window_ == nullptr)
        return;
    bool found = false;
    int count = 0;
    remindsDocument_.With([&](const JsonValue* root) {
        if (root == nullptr || !root->Is(JsonValueType::Object))
            return;
        if (const std::string* text = root->FindString("timelineCount")) {
            count = LeadingCount(*text);
            found = true;
        }
    });
    if (!found || count == knownNewItems_.load())
        return;
    knownNewItems_.store(count);
    ShowHomePage();

    char buttonText[16];
    std::snprintf(buttonText, sizeof(buttonText), "%d", count);
    char tip[128];
    std::snprintf(tip, sizeof(tip), FixedText(kTipNewPostsFormat).c_str(), count);
    if (std::string(buttonText) == "0")
        SetToolbarButtonText("", FixedText(kTipStartMicroLife));
    else
        SetToolbarButtonText(buttonText, tip);
}

} // namespace microblog
