// The tasks that carry each request of the service to a host worker thread. A task keeps copies
// of its arguments; when it runs it finds the service by id and calls the matching worker
// operation with itself as the task handle. A task that finds no service (the plug-in unloaded)
// ends silently.
#pragma once

#include <string>

#include "host/core.h"
#include "host/marshal.h"

namespace microblog {

class MicroBlogService;

class MicroBlogTask : public tavi::ITaskClass {
public:
    using ITaskClass::ITaskClass;
    void Run() final;

protected:
    virtual void RunWith(MicroBlogService& service) = 0;
};

class SyncSettingsTask : public MicroBlogTask {
public:
    explicit SyncSettingsTask(tavi::ITavi* core) : MicroBlogTask(core) {}

protected:
    void RunWith(MicroBlogService& service) override;
};

class UploadSettingsTask : public MicroBlogTask {
public:
    UploadSettingsTask(tavi::ITavi* core, const tavi::Property& settings) : MicroBlogTask(core), settings_(settings) {}

protected:
    void RunWith(MicroBlogService& service) override;

private:
    tavi::Property settings_;
};

class LoginTask : public MicroBlogTask {
public:
    LoginTask(tavi::ITavi* core, tavi::TaskCallback callback, std::string account, std::string password)
        : MicroBlogTask(core, callback), account_(std::move(account)), password_(std::move(password)) {}

protected:
    void RunWith(MicroBlogService& service) override;

private:
    std::string account_;
    std::string password_;
};

// Tasks without arguments.
class VerifyCredentialsTask : public MicroBlogTask {
public:
    VerifyCredentialsTask(tavi::ITavi* core, tavi::TaskCallback callback) : MicroBlogTask(core, callback) {}

protected:
    void RunWith(MicroBlogService& service) override;
};

class LatestRemindsTask : public MicroBlogTask {
public:
    LatestRemindsTask(tavi::ITavi* core, tavi::TaskCallback callback) : MicroBlogTask(core, callback) {}

protected:
    void RunWith(MicroBlogService& service) override;
};

// Tasks with a count.
class HomeTimelineTask : public MicroBlogTask {
public:
    HomeTimelineTask(tavi::ITavi* core, tavi::TaskCallback callback, int count)
        : MicroBlogTask(core, callback), count_(count) {}

protected:
    void RunWith(MicroBlogService& service) override;

private:
    int count_;
};

class MentionsTask : public MicroBlogTask {
public:
    MentionsTask(tavi::ITavi* core, tavi::TaskCallback callback, int count)
        : MicroBlogTask(core, callback), count_(count) {}

protected:
    void RunWith(MicroBlogService& service) override;

private:
    int count_;
};

// Tasks with one text: a status text, a status id or a nick name.
class TextTask : public MicroBlogTask {
public:
    TextTask(tavi::ITavi* core, tavi::TaskCallback callback, std::string text)
        : MicroBlogTask(core, callback), text_(std::move(text)) {}

protected:
    std::string text_;
};

class UpdateStatusTask : public TextTask {
public:
    using TextTask::TextTask;

protected:
    void RunWith(MicroBlogService& service) override;
};

class CreateFavoriteTask : public TextTask {
public:
    using TextTask::TextTask;

protected:
    void RunWith(MicroBlogService& service) override;
};

class DestroyFavoriteTask : public TextTask {
public:
    using TextTask::TextTask;

protected:
    void RunWith(MicroBlogService& service) override;
};

class DestroyStatusTask : public TextTask {
public:
    using TextTask::TextTask;

protected:
    void RunWith(MicroBlogService& service) override;
};

class UpdateProfileTask : public TextTask {
public:
    using TextTask::TextTask;

protected:
    void RunWith(MicroBlogService& service) override;
};

class ActivateAccountTask : public TextTask {
public:
    using TextTask::TextTask;

protected:
    void RunWith(MicroBlogService& service) override;
};

// Retweets and replies: the status id, the text and two flags.
class StatusActionTask : public MicroBlogTask {
public:
    StatusActionTask(tavi::ITavi* core, tavi::TaskCallback callback, std::string id, std::string text, int flag,
                     int toRoot)
        : MicroBlogTask(core, callback), id_(std::move(id)), text_(std::move(text)), flag_(flag), toRoot_(toRoot) {}

protected:
    std::string id_;
    std::string text_;
    int flag_;
    int toRoot_;
};

class RetweetTask : public StatusActionTask {
public:
    using StatusActionTask::StatusActionTask;

protected:
    void RunWith(MicroBlogService& service) override;
};

class ReplyTask : public StatusActionTask {
public:
    using StatusActionTask::StatusActionTask;

protected:
    void RunWith(MicroBlogService& service) override;
};

} // namespace microblog
