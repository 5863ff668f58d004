// What the form tests share: a host runtime with the plug-in's own skin, build and string files, a
// microblog service that records the sends instead of making them and answers them when the test
// says, the forms' message pre-translation hooked in as the plug-in's exported hook is, and
// keystrokes delivered through the host's loop as the keyboard delivers them.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "host/common.h"
#include "host/skin.h"
#include "runtime/common/runtime_settings.h"
#include "runtime/core/host_services.h"
#include "runtime/skin/skin_runtime.h"
#include "runtime/skin/text_units.h"
#include "service/microblog_result.h"
#include "service/microblog_service.h"
#include "tests/support/test_env.h"
#include "ui/forms.h"
#include "ui/microblog_config_form.h"
#include "ui/microblog_publish_form.h"

namespace formstest {

// Text in the system code page from UTF-8, as the plug-in holds it.
inline std::string Narrow(const std::string& utf8) {
    return tavi::utf8_to_CString(utf8);
}
inline std::string Text(const char* id) {
    return tavi::CMutiLanSupport::GetStringViaID(id);
}

struct SentRequest {
    std::string kind; // "update", "retweet" or "reply"
    std::string id;
    std::string text;
    int firstFlag = 0;
    int secondFlag = 0;
};

// The service with its sends recorded; each send's callback waits until the test answers it.
class RecordingService : public microblog::MicroBlogService {
public:
    using MicroBlogService::MicroBlogService;

    int RequestUpdateStatus(std::string text, Callback callback) override {
        return Record({"update", "", text, 0, 0}, callback);
    }
    int RequestRetweet(Callback callback, std::string id, std::string text, int isComment,
                       int isCommentToRoot) override {
        return Record({"retweet", id, text, isComment, isCommentToRoot}, callback);
    }
    int RequestReply(Callback callback, std::string id, std::string text, int isRetweet,
                     int isCommentToRoot) override {
        return Record({"reply", id, text, isRetweet, isCommentToRoot}, callback);
    }
    void ShowMainPanel() override { ++mainPanelShown; }

    // The home timeline reply the forms look statuses up in.
    void SetHomeTimeline(const std::string& json) { homeTimelineDocument_.Parse(json); }

    // Answers the last send as a worker would: the record goes to the callback through the host.
    // withRecord false delivers the answer without its record.
    void Answer(int status, const std::string& text = std::string(), bool withRecord = true) {
        ASSERT_TRUE(pending) << "no send is waiting for its answer";
        Callback callback = pending;
        pending = Callback();
        GetCore()->InvokeUICallBack(callback,
                                    withRecord ? new microblog::MicroBlogResult(status, text) : nullptr);
    }

    std::vector<SentRequest> sent;
    Callback pending;
    int postResult = 1; // what PostTask would have returned
    int mainPanelShown = 0;

private:
    int Record(SentRequest request, Callback callback) {
        sent.push_back(std::move(request));
        if (postResult != 0)
            pending = callback;
        return postResult;
    }
};

class FormsTest : public ::testing::Test {
protected:
    void SetUp() override {
        host_ = std::make_unique<testenv::HostRuntime>("demo@velmora.com", "demo123");
        tavi::runtime::SetLanguage("zh-CN");
        tavi::runtime::ClearStringTable();
        std::string resources = std::string(TAVI_SOURCE_DIR) + "/resources/microblog/";
        ASSERT_TRUE(tavi::runtime::LoadStringTable(resources + "stringid.ini"));
        tavi::CSkinManager* manager = tavi::CSkinManager::GetInstance();
        manager->Reset();
        ASSERT_EQ(manager->IncludeSkinBuildFile(resources + "build.xml"), 1) << manager->GetLastError();
        ASSERT_EQ(manager->IncludeSkinFile(resources + "skin.xml"), 1) << manager->GetLastError();
        tavi::runtime::AddPreTranslateHook(&microblog::PreTranslateFormMessage);
        service_ = new RecordingService(&host_->core());
        host_->core().RegisterService(service_);
    }

    void TearDown() override {
        // A send still out gets its answer, as the worker would give it.
        if (service_->pending)
            service_->Answer(-1);
        // As the messenger does before it unloads a plug-in: every form is closed and released.
        loop().RunUntilIdle();
        tavi::CSkinWndManager::GetInstance()->QueryCloseForms();
        microblog::DestroyConfigForm();
        loop().RunUntilIdle();
        tavi::runtime::RemovePreTranslateHook(&microblog::PreTranslateFormMessage);
        // Tasks the settings store started (the upload to the messenger's server) end first.
        host_->core().WaitIdle(30000);
        host_->core().UnregisterService(service_);
        service_->Release();
        service_ = nullptr;
        tavi::CSkinManager::GetInstance()->Reset();
        tavi::runtime::ClearStringTable();
        host_.reset();
    }

    tavi::runtime::UiLoop& loop() { return host_->loop(); }
    tavi::runtime::Notifier& notifier() { return host_->core().GetNotifier(); }

    // The balloons raised so far, as "anchor|text".
    std::vector<std::string> Balloons() {
        std::vector<std::string> shown;
        for (const auto& balloon : notifier().GetBalloons())
            shown.push_back(balloon.anchor + "|" + balloon.text + "|" + std::to_string(balloon.milliseconds));
        return shown;
    }
    static std::string BalloonOf(const std::string& anchor, const std::string& text) {
        return anchor + "|" + text + "|2000";
    }

    // One key or character message to the window with the focus, through the host's loop.
    static bool Key(unsigned message, std::uintptr_t wParam) {
        tavi::MSG msg;
        tavi::CWnd* focus = tavi::CWnd::GetFocus();
        msg.hwnd = focus ? focus->GetSafeHwnd() : nullptr;
        msg.message = message;
        msg.wParam = wParam;
        return tavi::runtime::DispatchHostMessage(msg);
    }
    // Presses a key that types nothing (Tab, Shift, Delete).
    static void Press(unsigned key) {
        Key(tavi::WM_KEYDOWN, key);
        Key(tavi::WM_KEYUP, key);
    }
    // Types into the window with the focus: each character as key-down, character and key-up; "\n"
    // is the Enter key.
    static void TypeHere(const std::string& utf8) {
        for (char32_t c : tavi::runtime::Utf8ToUnicode(utf8)) {
            unsigned key = c == U'\n' ? tavi::VK_RETURN : tavi::VK_PACKET;
            if (!Key(tavi::WM_KEYDOWN, key))
                Key(tavi::WM_CHAR, c == U'\n' ? U'\r' : c);
            Key(tavi::WM_KEYUP, key);
        }
    }
    // Focuses the edit, selects its text and types over it.
    static void Type(tavi::CSWColorEdit* edit, const std::string& utf8) {
        ASSERT_NE(edit, nullptr);
        edit->SetFocus();
        edit->SendMessage(tavi::EM_SETSEL, 0, -1);
        if (utf8.empty())
            Press(tavi::VK_DELETE);
        TypeHere(utf8);
    }

    template <class T> static T* Control(tavi::CSkinWnd* form, const std::string& name) {
        T* control = tavi::FindSkinControl<T>(form, name);
        EXPECT_NE(control, nullptr) << "no control " << name;
        return control;
    }

    std::unique_ptr<testenv::HostRuntime> host_;
    RecordingService* service_ = nullptr;
};

} // namespace formstest
