// MicroBlogConfigForm: the plug-in's settings dialog. It binds a microblog account (a mail address
// and its password) to the messenger user, switches the announcement of new posts on or off and
// sets its interval. It is filled from the stored settings each time it is shown and writes the
// whole set back on OK. At most one exists per process.
#pragma once

#include <string>

#include "host/skin.h"

namespace microblog {

class IMicroBlogService;

class MicroBlogConfigForm : public tavi::CSkinForm {
public:
    MicroBlogConfigForm();
    ~MicroBlogConfigForm() override;

    // Creates and builds the window (hidden); 0 when it cannot be made.
    int Create(void* parent);
    int OnBuildControlAfter() override;
    // Notes the user's typing in the account and password edits, then the dialog keys.
    bool PreTranslateMessage(tavi::MSG* msg) override;
    // The UI library closing the form for good: the form releases itself.
    int OnQueryCloseForm() override;
    // Event 1 of the form, by the control that fired.
    virtual void OnFormEvent(tavi::CSkinObject* sender, void* data);

    // Fills the controls from the stored settings; unsaved edits are dropped.
    void LoadFromSettings();
    // A mail address of at most 63 bytes made of letters, digits, '.', '_' and '-' around one '@'.
    static bool IsValidEmail(const std::string& name);
    // Reads and checks the controls; each refusal is a balloon at the offending control.
    bool Validate(std::string& account, std::string& password, int& interval);
    // Stores the settings and hides the form, or leaves it open with the refusal.
    void OnOK();

    bool IsPasswordChanged() const { return passwordChanged_ != 0; }

protected:
    // The close message hides the form; the destroy message changes nothing.
    void OnClose() override;
    void OnDestroy() override;

private:
    IMicroBlogService* Service() const;
    void Hide();
    bool Refuse(const char* stringId, tavi::CSkinObject* anchor);

    tavi::CSkinCheckBox* checkBind_ = nullptr;
    tavi::CSkinCheckBox* checkNotice_ = nullptr;
    tavi::CSkinCheckBox* checkSyncSignature_ = nullptr;
    tavi::CSkinCheckBox* checkAutoWatch_ = nullptr;
    tavi::CSkinCheckBox* checkBeWatched_ = nullptr;
    tavi::CSkinLabel* labelAccountTip_ = nullptr;
    tavi::CSkinLabel* labelCurrentAccount_ = nullptr;
    tavi::CSWColorEdit* editAccount_ = nullptr;
    tavi::CSWColorEdit* editPassword_ = nullptr;
    tavi::CSWColorEdit* editInterval_ = nullptr;
    tavi::CSkinObject* buttonOk_ = nullptr;
    tavi::CSkinObject* buttonCancel_ = nullptr;

    std::string storedPassword_;
    // What the password edit was filled with: a key that leaves it so (Tab into the edit, Shift)
    // is not an edit of the password.
    std::string shownPassword_;
    int passwordChanged_ = 0;
};

// The settings form of the process, made and created on first use; null when it cannot be made.
MicroBlogConfigForm* GetConfigForm();
// The settings form if one exists, without making one.
MicroBlogConfigForm* FindConfigForm();
// Releases the settings form, if there is one, and forgets it.
void ReleaseConfigForm();

} // namespace microblog
