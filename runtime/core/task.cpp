// The host's part of every task: packets to the messenger server and the hand-over of results.
#include "host/core.h"

namespace tavi {

std::unique_ptr<Unpack> ITaskClass::SendPacketAndWaitResponse(const Marshallable& frame, const Marshallable& body,
                                                              bool wait, int seconds) {
    if (core_ == nullptr)
        return nullptr;
    return core_->SendPacketAndWaitResponse(frame, body, wait, seconds);
}

int ITaskClass::SendPacket(const Marshallable& frame, const Marshallable& body) {
    if (core_ == nullptr)
        return 0;
    core_->SendPacketAndWaitResponse(frame, body, false, 0);
    return 1;
}

void ITaskClass::InvokeUICallBack(IAsync_CallbackParam* record) {
    if (core_ == nullptr) {
        if (record)
            record->Release();
        return;
    }
    core_->InvokeUICallBack(callback_, record);
}

} // namespace tavi
