// The settings exchange with the messenger server: the upload after a local change, and the fetch
// that brings a newer copy from another machine. Both run on a host worker thread.
#include "host/services.h"
#include "service/microblog_service.h"
#include "service/packets.h"

namespace microblog {
namespace {

constexpr int kReplyWaitSeconds = 60;

tavi::ITimeTagService* TimeTags(tavi::ITavi* core) {
    return core ? static_cast<tavi::ITimeTagService*>(core->GetService(tavi::kServiceTimeTags)) : nullptr;
}

} // namespace

void MicroBlogService::RunUploadSettings(tavi::ITaskClass* task, tavi::Property settings) {
    LFrame frame = MakeSettingsFrame(kCommandUploadSettings);
    std::unique_ptr<tavi::Unpack> reply =
        task->SendPacketAndWaitResponse(frame, settings, true, kReplyWaitSeconds);
    if (!reply)
        return;
    TagRecord record;
    record.unmarshal(*reply);
    if (tavi::ITimeTagService* tags = TimeTags(core_))
        tags->SetTimeTag(kSettingsName, record.timeTag);
}

void MicroBlogService::RunSyncSettings(tavi::ITaskClass* task) {
    tavi::ITimeTagService* tags = TimeTags(core_);
    if (core_ == nullptr || tags == nullptr)
        return;
    std::uint32_t local = tags->GetTimeTag(kSettingsName);
    std::uint32_t server = tags->GetTimeTag("timetag");
    std::string account = core_->GetUserAccount();

    if (server < local) {
        // The stored copy is the newest.
        if (core_->HasUserData(kSettingsName, account)) {
            tavi::Property stored;
            core_->LoadUserData(kSettingsName, account, stored);
            ApplySettings(stored);
        }
        return;
    }

    LFrame frame = MakeSettingsFrame(kCommandFetchSettings);
    TagRecord query;
    query.text = account;
    query.timeTag = local;
    std::unique_ptr<tavi::Unpack> reply =
        task->SendPacketAndWaitResponse(frame, query, true, kReplyWaitSeconds);
    if (!reply)
        return;
    TaggedProperty fetched;
    fetched.unmarshal(*reply);
    if (fetched.timeTag <= local)
        return;

    tavi::Property merged;
    if (core_->HasUserData(kSettingsName, account))
        core_->LoadUserData(kSettingsName, account, merged);
    merged.Merge(fetched);
    // An interval below zero (or none at all) would arm the prompt timer in the past: the default
    // is stored and used instead, so the store and the service agree.
    if (merged.GetInteger(kKeyPromptInterval) < 0)
        merged.SetInteger(kKeyPromptInterval, kDefaultPromptInterval);
    ApplySettings(merged);
    core_->SaveUserData(kSettingsName, account, merged, 0);
    tags->SetTimeTag(kSettingsName, fetched.timeTag);
}

} // namespace microblog
