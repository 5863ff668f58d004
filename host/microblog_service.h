// The microblog plug-in's service as the host's components and the plug-in's own parts reach it:
// registered as service 20005 and found with GetService(20005) on the core object.
#pragma once

#include <string>

#include "host/core.h"
#include "host/marshal.h"

namespace microblog {

// Operations in the order the host's components expect them. Request operations run on the
// user-interface thread, post a task and return the result of PostTask; the matching Run operation
// runs on a worker thread and posts one result record to the callback.
class IMicroBlogService : public tavi::IService {
public:
    using Callback = tavi::TaskCallback;

    IMicroBlogService() : IService(20005) {}

    virtual void ShowPlugin() = 0;
    virtual void ShowConfigForm() = 0;
    virtual unsigned GetState() = 0;
    // Kinds: 0 the timeline page, 2 the home page, 3 the home page's folder file.
    virtual std::string GetDocumentPath(std::string& path, int kind, int regenerate) = 0;
    virtual int FindStatus(const std::string& id, std::string& text, std::string& userName,
                           std::string& rootUserName) = 0;
    virtual int GetScreenName(const std::string& ignored, std::string& name) = 0;
    virtual int IsKnownMailDomain(const std::string& domain) = 0;
    virtual int RequestSyncSettings() = 0;
    virtual void RunSyncSettings(tavi::ITaskClass* task) = 0;
    virtual void SaveSettings(const tavi::Property& settings) = 0;
    virtual void RunUploadSettings(tavi::ITaskClass* task, tavi::Property settings) = 0;
    virtual int RequestLogin(std::string account, std::string password, Callback callback) = 0;
    virtual void RunLogin(tavi::ITaskClass* task, std::string account, std::string password) = 0;
    virtual void SetAccount(std::string account, std::string password, int persist) = 0;
    virtual void GetAccount(std::string& account, std::string& password) = 0;
    virtual int RequestVerifyCredentials(Callback callback) = 0;
    virtual void RunVerifyCredentials(tavi::ITaskClass* task) = 0;
    virtual int RequestHomeTimeline(int count, Callback callback) = 0;
    virtual void RunHomeTimeline(tavi::ITaskClass* task, int count) = 0;
    virtual int RequestUpdateStatus(std::string text, Callback callback) = 0;
    virtual void RunUpdateStatus(tavi::ITaskClass* task, std::string text) = 0;
    virtual int RequestRetweet(Callback callback, std::string id, std::string text, int isComment,
                               int isCommentToRoot) = 0;
    virtual void RunRetweet(std::string id, std::string text, int isComment, int isCommentToRoot,
                            tavi::ITaskClass* task) = 0;
    virtual int RequestReply(Callback callback, std::string id, std::string text, int isRetweet,
                             int isCommentToRoot) = 0;
    virtual void RunReply(std::string id, std::string text, int isRetweet, int isCommentToRoot,
                          tavi::ITaskClass* task) = 0;
    virtual int RequestCreateFavorite(Callback callback, std::string id) = 0;
    virtual void RunCreateFavorite(tavi::ITaskClass* task, std::string id) = 0;
    virtual int RequestDestroyFavorite(std::string id, Callback callback) = 0;
    virtual void RunDestroyFavorite(tavi::ITaskClass* task, std::string id) = 0;
    virtual int RequestLatestReminds(Callback callback) = 0;
    virtual void RunLatestReminds(tavi::ITaskClass* task) = 0;
    virtual int RequestDestroyStatus(std::string id, Callback callback) = 0;
    virtual void RunDestroyStatus(tavi::ITaskClass* task, std::string id) = 0;
    virtual int RequestUpdateProfile(std::string nickName, Callback callback) = 0;
    virtual void RunUpdateProfile(tavi::ITaskClass* task, std::string nickName) = 0;
    virtual int RequestActivateAccount(std::string nickName, Callback callback) = 0;
    virtual void RunActivateAccount(tavi::ITaskClass* task, std::string nickName) = 0;
    virtual int ActivateAccount(std::string nickName) = 0;
    virtual int RequestMentions(int count, Callback callback) = 0;
    virtual void RunMentions(tavi::ITaskClass* task, int count) = 0;
    // Reserved for other host components; they do nothing.
    virtual void ReservedTwoA(int, int) {}
    virtual void ReservedTwoB(int, int) {}
    virtual void ReservedThreeA(int, int, int) {}
    virtual void ReservedThreeB(int, int, int) {}
    virtual void ShowReplyForm(std::string kind, std::string id, std::string text) = 0;
    virtual void ShowPublishForm(std::string kind) = 0;
    virtual void SetToolbarButtonText(std::string text, std::string tip) = 0;
    virtual void ShowMainPanel() = 0;
    virtual void StartReminders() = 0;
    virtual void LoadSettingsMap(tavi::Property& settings) = 0;
    virtual void StoreSettingsMap(const tavi::Property& settings) = 0;
};

} // namespace microblog
