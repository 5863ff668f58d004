#include "ui/microblog_wait_panel.h"

#include "service/microblog_service.h"
#include "ui/panel_skin.h"

namespace microblog {

MicroBlogWaitPanel::MicroBlogWaitPanel(MicroBlogPanel* owner) : owner_(owner) {
    SetObjectID("MicroBlogWaitPanel");
}

MicroBlogWaitPanel::~MicroBlogWaitPanel() = default;

int MicroBlogWaitPanel::Create(void* hostParent) {
    hostParent_ = hostParent;
    const tavi::SkinBuildNode* node = FindPanelBuildNode(GetObjectID());
    if (node == nullptr || !BuildFromXML(node))
        return 0;
    ListenEvent(tavi::kSkinEventClick, tavi::SkinEventHandler(this, &MicroBlogWaitPanel::OnEvent));
    return 1;
}

int MicroBlogWaitPanel::OnBuildControlAfter() {
    labelWait_ = tavi::FindSkinControl<tavi::CSkinObject>(this, "LabelWait");
    return labelWait_ != nullptr ? 1 : 0;
}

// The panel reacts to no click; like every handler it needs the service to be there first.
void MicroBlogWaitPanel::OnEvent(tavi::CSkinObject* /*sender*/, void* /*data*/) {
    if (FindService() == nullptr)
        return;
}

} // namespace microblog
