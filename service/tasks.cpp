#include "service/tasks.h"

#include "service/microblog_service.h"

namespace microblog {

void MicroBlogTask::Run() {
    tavi::ITavi* core = GetCore();
    if (core == nullptr)
        return;
    auto* service = static_cast<MicroBlogService*>(core->GetService(kServiceId));
    if (service == nullptr)
        return;
    RunWith(*service);
}

void SyncSettingsTask::RunWith(MicroBlogService& service) { service.RunSyncSettings(this); }
void UploadSettingsTask::RunWith(MicroBlogService& service) { service.RunUploadSettings(this, settings_); }
void LoginTask::RunWith(MicroBlogService& service) { service.RunLogin(this, account_, password_); }
void VerifyCredentialsTask::RunWith(MicroBlogService& service) { service.RunVerifyCredentials(this); }
void LatestRemindsTask::RunWith(MicroBlogService& service) { service.RunLatestReminds(this); }
void HomeTimelineTask::RunWith(MicroBlogService& service) { service.RunHomeTimeline(this, count_); }
void MentionsTask::RunWith(MicroBlogService& service) { service.RunMentions(this, count_); }
void UpdateStatusTask::RunWith(MicroBlogService& service) { service.RunUpdateStatus(this, text_); }
void CreateFavoriteTask::RunWith(MicroBlogService& service) { service.RunCreateFavorite(this, text_); }
void DestroyFavoriteTask::RunWith(MicroBlogService& service) { service.RunDestroyFavorite(this, text_); }
void DestroyStatusTask::RunWith(MicroBlogService& service) { service.RunDestroyStatus(this, text_); }
void UpdateProfileTask::RunWith(MicroBlogService& service) { service.RunUpdateProfile(this, text_); }
void ActivateAccountTask::RunWith(MicroBlogService& service) { service.RunActivateAccount(this, text_); }
void RetweetTask::RunWith(MicroBlogService& service) { service.RunRetweet(id_, text_, flag_, toRoot_, this); }
void ReplyTask::RunWith(MicroBlogService& service) { service.RunReply(id_, text_, flag_, toRoot_, this); }

} // namespace microblog
