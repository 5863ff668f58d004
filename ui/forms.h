// The plug-in's forms as the window and the application object reach them: the settings form (one
// per process), the compose form for a new status, a retweet or a comment, and the forms' share of
// the message pre-translation. All of it runs on the user-interface thread.
#pragma once

#include <string>

namespace microblog {

// Gets the settings form (made on first use), fills it from the stored settings, centres, shows and
// raises it.
void ShowConfigForm();
// Opens a new compose form; kind is "update" for a new status.
void ShowPublishForm(const std::string& kind);
// Opens a new compose form for a status of the timeline; kind is "retweet" or "comment".
void ShowReplyForm(const std::string& kind, const std::string& id, const std::string& text);
// Releases the settings form at unload; the next ShowConfigForm makes a new one.
void DestroyConfigForm();
// Frees the compose forms that are still open at unload, including those that, closed already,
// wait for the answer to their send: that answer will not be delivered any more.
void DestroyComposeForms();
// Offers a message of the host's loop (a MSG) to the plug-in's forms before it is dispatched:
// non-zero when one of them consumed it.
int PreTranslateFormMessage(void* message);

} // namespace microblog
