// The host program's user-interface commands: showing the plug-in, reading the screen, clicking,
// typing, ticking, the forms, the page in the browser control, message boxes, the toolbar, the
// balloons and what was opened. Every command acts on the focused form first, then on the shown
// plug-in window, then on the main form.
#include <algorithm>
#include <cstdlib>

#include "app/host_app.h"
#include "app/screen_text.h"
#include "host/common.h"
#include "host/msgbox.h"
#include "host/skin.h"
#include "runtime/common/runtime_settings.h"
#include "runtime/core/host_services.h"
#include "runtime/skin/skin_runtime.h"
#include "runtime/skin/text_units.h"

namespace tavi::app {
namespace {

// "\n" types a line break, "\t" a Tab, "\\" a backslash.
std::string DecodeTyped(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            char next = text[i + 1];
            if (next == 'n' || next == 't' || next == '\\') {
                out.push_back(next == 'n' ? '\n' : next == 't' ? '\t' : '\\');
                ++i;
                continue;
            }
        }
        out.push_back(text[i]);
    }
    return out;
}

bool ParseIndex(const std::string& text, std::size_t& value) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    value = static_cast<std::size_t>(std::strtoul(text.c_str(), nullptr, 10));
    return true;
}

CSkinWebBrowser* BrowserOf(CSkinObject* object) {
    return dynamic_cast<CSkinWebBrowser*>(CSkinWnd::FromSkinObject(object));
}

// Browsers below the roots: the first shown one, or every one.
std::vector<CSkinWebBrowser*> FindBrowsers(const std::vector<CSkinObject*>& roots, bool shownOnly) {
    std::vector<CSkinWebBrowser*> found;
    for (CSkinObject* root : roots) {
        std::vector<CSkinObject*> pending{root};
        while (!pending.empty()) {
            CSkinObject* object = pending.back();
            pending.pop_back();
            if (object->GetKind() == kKindBrowser)
                if (CSkinWebBrowser* browser = BrowserOf(object))
                    if ((!shownOnly || object->IsShown()) &&
                        std::find(found.begin(), found.end(), browser) == found.end())
                        found.push_back(browser);
            pending.insert(pending.end(), object->GetChildren().rbegin(), object->GetChildren().rend());
        }
    }
    return found;
}

} // namespace

CSkinForm* HostApp::FocusedForm() const {
    auto* form = dynamic_cast<CSkinForm*>(CWnd::GetForegroundWindow());
    if (form == nullptr || form == static_cast<CSkinForm*>(mainForm_) || !form->IsWindowVisible())
        return nullptr;
    return form;
}

IPluginWindow* HostApp::ShownPluginWindow() const {
    IPluginWindow* window = layout_.GetActive();
    if (window == nullptr && mainForm_ != nullptr)
        if (CSkinPluginContainer* container = mainForm_->GetPluginContainer())
            window = container->GetActiveWindow();
    return window != nullptr && window->IsVisible() ? window : nullptr;
}

std::vector<CSkinObject*> HostApp::SearchRoots() const {
    std::vector<CSkinObject*> roots;
    if (CSkinForm* form = FocusedForm())
        roots.push_back(form->GetSkinObject());
    if (IPluginWindow* window = ShownPluginWindow())
        roots.push_back(window);
    if (mainForm_ != nullptr && mainForm_->IsWindow())
        roots.push_back(mainForm_->GetSkinObject());
    return roots;
}

CSkinObject* HostApp::FindControl(const std::string& name, std::string& error) const {
    std::vector<CSkinObject*> roots = SearchRoots();
    if (roots.empty()) {
        error = "nothing is shown (try show)";
        return nullptr;
    }
    // A name may stand in several panels; the one on screen counts.
    CSkinObject* hidden = nullptr;
    for (CSkinObject* root : roots) {
        for (CSkinObject* candidate : root->FindAllControls(name)) {
            if (candidate->IsShown())
                return candidate;
            if (hidden == nullptr)
                hidden = candidate;
        }
    }
    error = hidden ? name + " is not shown" : "no control " + name;
    return nullptr;
}

CSkinWnd* HostApp::FindWindowById(const std::string& id) const {
    CSkinForm* form = CSkinWndManager::GetInstance()->FindForm(id);
    return form != nullptr && form->IsWindow() ? form : nullptr;
}

HostApp::ScreenState HostApp::Snapshot() const {
    ScreenState state;
    if (IPluginWindow* window = ShownPluginWindow()) {
        for (const std::string& line : DescribeScreen(window)) {
            // Containers: panels, and windows of their own such as the timeline list.
            std::size_t start = line.find_first_not_of(' ');
            for (const char* kind : {"panel ", "window "}) {
                std::size_t length = std::char_traits<char>::length(kind);
                if (start != std::string::npos && line.compare(start, length, kind) == 0)
                    state.panels.push_back(line.substr(start + length));
            }
        }
    }
    for (CSkinForm* form : CSkinWndManager::GetInstance()->GetForms())
        if (form != static_cast<CSkinForm*>(mainForm_) && form->IsWindow() && form->IsWindowVisible())
            state.forms.push_back(form->GetObjectID().empty() ? std::string("-") : form->GetObjectID());
    if (CSkinButtonManager* buttons = mainForm_ ? mainForm_->GetButtonManager() : nullptr)
        for (CSkinObject* button : buttons->GetChildren())
            state.toolbar.push_back(button->GetObjectID() + " text=" + QuoteText(button->GetText()) +
                                    " tip=" + QuoteText(button->GetTip()));
    std::vector<CSkinWebBrowser*> browsers = FindBrowsers(SearchRoots(), true);
    if (!browsers.empty()) {
        state.page = browsers.front()->GetLocationURL() + "\n" + browsers.front()->GetReadableText();
        state.pageTitle = browsers.front()->GetTitle();
        state.pageLinks = browsers.front()->GetLinks().size();
    }
    return state;
}

CSkinWebBrowser* HostApp::ShownBrowser() const {
    std::vector<CSkinWebBrowser*> browsers = FindBrowsers(SearchRoots(), true);
    return browsers.empty() ? nullptr : browsers.front();
}

void HostApp::RegisterUiCommands() {
    Add("show", "show", "show the plug-in window in the host layout",
        [this](const std::vector<std::string>&) {
            std::vector<IPluginWindow*> windows = core_->GetWindowHost().GetWindows();
            if (windows.empty()) {
                Error("show: no plug-in has a window");
                return;
            }
            if (mainForm_ != nullptr && !mainForm_->IsWindowVisible())
                mainForm_->ShowWindow(SW_SHOW);
            PlacePluginWindows();
            IPluginWindow* window = windows.front();
            layout_.ActivateWindow(window);
            window->ShowPluginWindow(1);
            Pump();
        });
    Add("screen", "screen [WINDOW]", "print what the plug-in window (or a form) shows",
        [this](const std::vector<std::string>& args) {
            CSkinObject* root = nullptr;
            if (args.size() > 1) {
                if (CSkinWnd* window = FindWindowById(args[1]))
                    root = window->GetSkinObject();
                for (IPluginWindow* window : core_->GetWindowHost().GetWindows())
                    if (root == nullptr && window->GetObjectID() == args[1])
                        root = window;
                if (root == nullptr) {
                    Error("screen: no window " + args[1]);
                    return;
                }
            } else if (CSkinForm* form = FocusedForm()) {
                root = form->GetSkinObject();
            } else {
                root = ShownPluginWindow();
            }
            if (root == nullptr || !root->IsVisible()) {
                Error(args.size() > 1 ? "screen: " + args[1] + " is not shown"
                                      : "screen: nothing is shown (try show)");
                return;
            }
            for (const std::string& line : DescribeScreen(root))
                Say(line);
        });
    Add("when", "when NAME COMMAND...", "run the command only when the control NAME is shown",
        [this](const std::vector<std::string>& args) {
            if (args.size() < 3) {
                Error("when: give a control's name and a command");
                return;
            }
            std::string error;
            if (FindControl(args[1], error) == nullptr)
                return;
            Run(std::vector<std::string>(args.begin() + 2, args.end()));
        });
    Add("click", "click NAME", "click a control", [this](const std::vector<std::string>& args) {
        if (args.size() != 2) {
            Error("click: give the control's name");
            return;
        }
        std::string error;
        CSkinObject* control = FindControl(args[1], error);
        if (control == nullptr) {
            Error("click: " + error);
            return;
        }
        if (!control->IsEnabledInTree()) {
            Error("click: " + args[1] + " is disabled");
            return;
        }
        control->PerformClick();
        Pump();
    });
    Add("type", "type NAME TEXT", "type TEXT into an edit, replacing its text (\\n: a line break)",
        [this](const std::vector<std::string>& args) {
            if (args.size() != 3) {
                Error("type: give the edit's name and the text (quoted when it has blanks)");
                return;
            }
            std::string error;
            CSkinObject* control = FindControl(args[1], error);
            auto* edit = control ? dynamic_cast<CSWColorEdit*>(CSkinWnd::FromSkinObject(control)) : nullptr;
            if (control == nullptr) {
                Error("type: " + error);
                return;
            }
            if (edit == nullptr) {
                Error("type: " + args[1] + " is not an edit");
                return;
            }
            if (!edit->IsWindow()) {
                Error("type: " + args[1] + " has no window");
                return;
            }
            if (!control->IsEnabledInTree() || !edit->IsWindowEnabled()) {
                Error("type: " + args[1] + " is disabled");
                return;
            }
            // A windowed view types through its widget, as an input method does.
            if (viewTyper_ && viewTyper_(control, DecodeTyped(args[2]))) {
                Pump();
                return;
            }
            void* handle = edit->GetSafeHwnd();
            edit->SetFocus();
            edit->SendMessage(EM_SETSEL, 0, -1);
            std::u32string typed = runtime::Utf8ToUnicode(DecodeTyped(args[2]));
            if (typed.empty())
                runtime::TypeKey(handle, VK_DELETE);
            for (char32_t c : typed) {
                // Each character goes to the window that has the focus then, as the keyboard's do.
                CWnd* focus = CWnd::GetFocus();
                runtime::TypeCharacter(focus ? focus->GetSafeHwnd() : handle, c);
            }
            Pump();
        });
    Add("check", "check NAME on|off", "tick or clear a check box",
        [this](const std::vector<std::string>& args) {
            if (args.size() != 3 || (args[2] != "on" && args[2] != "off")) {
                Error("check: give the check box's name and on or off");
                return;
            }
            std::string error;
            CSkinObject* control = FindControl(args[1], error);
            auto* box = dynamic_cast<CSkinCheckBox*>(control);
            if (control == nullptr) {
                Error("check: " + error);
                return;
            }
            if (box == nullptr) {
                Error("check: " + args[1] + " is not a check box");
                return;
            }
            if (!control->IsEnabledInTree()) {
                Error("check: " + args[1] + " is disabled");
                return;
            }
            if (box->IsChecked() != (args[2] == "on"))
                box->PerformClick();
            Pump();
        });
    Add("windows", "windows", "list the open forms", [this](const std::vector<std::string>&) {
        CWnd* foreground = CWnd::GetForegroundWindow();
        bool any = false;
        for (CSkinForm* form : CSkinWndManager::GetInstance()->GetForms()) {
            if (!form->IsWindow())
                continue;
            any = true;
            Say("form " + (form->GetObjectID().empty() ? std::string("-") : form->GetObjectID()) +
                " visible=" + (form->IsWindowVisible() ? "1" : "0") + " foreground=" +
                (form == foreground ? "1" : "0") + " title=" + QuoteText(form->GetWindowText()));
        }
        if (!any)
            Say("no windows");
    });
    Add("focus", "focus WINDOW", "bring a form (or the plug-in window) to the front",
        [this](const std::vector<std::string>& args) {
            if (args.size() != 2) {
                Error("focus: give the window's object id");
                return;
            }
            CSkinWnd* window = FindWindowById(args[1]);
            if (window == nullptr)
                for (IPluginWindow* plugin : core_->GetWindowHost().GetWindows())
                    if (plugin->GetObjectID() == args[1])
                        window = mainForm_;
            if (window == nullptr) {
                Error("focus: no window " + args[1]);
                return;
            }
            if (!window->SetForegroundWindow())
                Error("focus: " + args[1] + " is not shown");
        });
    Add("close", "close WINDOW", "close a form as its close box does",
        [this](const std::vector<std::string>& args) {
            if (args.size() != 2) {
                Error("close: give the form's object id");
                return;
            }
            CSkinWnd* window = FindWindowById(args[1]);
            if (window == nullptr) {
                Error("close: no window " + args[1]);
                return;
            }
            if (window == static_cast<CSkinWnd*>(mainForm_)) {
                Error("close: the main form closes with quit");
                return;
            }
            window->SendMessage(WM_CLOSE);
            Pump();
        });
    Add("links", "links", "list the links of the page in the browser",
        [this](const std::vector<std::string>&) {
            std::vector<CSkinWebBrowser*> browsers = FindBrowsers(SearchRoots(), true);
            if (browsers.empty()) {
                Error("links: no page is shown");
                return;
            }
            const auto& links = browsers.front()->GetLinks();
            if (links.empty())
                Say("no links");
            for (std::size_t i = 0; i < links.size(); ++i)
                Say(std::to_string(i + 1) + " " + OneLine(links[i].url) + " " + OneLine(links[i].text));
        });
    Add("follow", "follow N", "activate link N of the page, as a click does",
        [this](const std::vector<std::string>& args) {
            std::size_t number = 0;
            if (args.size() != 2 || !ParseIndex(args[1], number) || number == 0) {
                Error("follow: give the number of a link (see links)");
                return;
            }
            std::vector<CSkinWebBrowser*> browsers = FindBrowsers(SearchRoots(), true);
            if (browsers.empty()) {
                Error("follow: no page is shown");
                return;
            }
            std::size_t count = browsers.front()->GetLinks().size();
            if (number > count) {
                Error("follow: no link " + args[1] + " (the page has " + std::to_string(count) + ")");
                return;
            }
            browsers.front()->ActivateLink(number - 1);
            Pump();
        });
    Add("page", "page", "print the page in the browser as text", [this](const std::vector<std::string>&) {
        std::vector<CSkinWebBrowser*> browsers = FindBrowsers(SearchRoots(), true);
        if (browsers.empty()) {
            Error("page: no page is shown");
            return;
        }
        const std::string& text = browsers.front()->GetReadableText();
        if (text.empty()) {
            Say("empty page");
            return;
        }
        SayLines(text);
    });
    Add("answer", "answer yes|no", "answer the next message box",
        [this](const std::vector<std::string>& args) {
            if (args.size() != 2 || (args[1] != "yes" && args[1] != "no" && args[1] != "cancel")) {
                Error("answer: give yes, no or cancel");
                return;
            }
            QueueAnswer(args[1] == "yes"  ? kMsgBoxAnswerYes
                        : args[1] == "no" ? kMsgBoxAnswerNo
                                          : kMsgBoxAnswerCancel);
        });
    Add("toolbar", "toolbar", "print the text and tip of the toolbar buttons",
        [this](const std::vector<std::string>&) {
            CSkinButtonManager* buttons = mainForm_ ? mainForm_->GetButtonManager() : nullptr;
            if (buttons == nullptr) {
                Error("toolbar: the main form has no toolbar");
                return;
            }
            for (CSkinObject* button : buttons->GetChildren())
                Say(button->GetObjectID() + " text=" + QuoteText(button->GetText()) +
                    " tip=" + QuoteText(button->GetTip()));
        });
    Add("balloons", "balloons", "list the balloon tips shown so far",
        [this](const std::vector<std::string>&) {
            auto balloons = core_->GetNotifier().GetBalloons();
            if (balloons.empty())
                Say("no balloons");
            for (const auto& balloon : balloons)
                Say(DescribeBalloon(balloon));
        });
    Add("opened", "opened", "list the addresses opened in the web browser",
        [this](const std::vector<std::string>&) {
            bool any = false;
            for (const auto& web : runtime::GetOpenedWebs()) {
                Say("web " + std::to_string(web.mode) + " " + OneLine(web.url));
                any = true;
            }
            for (CSkinWebBrowser* browser : FindBrowsers(SearchRoots(), false))
                for (const std::string& url : browser->GetOpenedWindows()) {
                    Say("window " + OneLine(url));
                    any = true;
                }
            if (!any)
                Say("nothing opened");
        });
}

} // namespace tavi::app
