#include "app/host_app.h"

#include <dirent.h>
#include <dlfcn.h>

#include <algorithm>
#include <iostream>
#include <sstream>

#include <unistd.h>

#include "app/screen_text.h"
#include "host/common.h"
#include "host/microblog_service.h"
#include "host/msgbox.h"
#include "host/skin.h"
#include "runtime/common/runtime_settings.h"
#include "runtime/core/host_services.h"
#include "runtime/service/msgbox_host.h"
#include "runtime/skin/skin_runtime.h"

namespace tavi::app {
namespace {

constexpr std::int64_t kWaitBoundMilliseconds = 60000;
// How long an unload lets the plug-ins' work finish while their objects are still there; what is
// still open afterwards is cancelled.
constexpr std::int64_t kUnloadSettleMilliseconds = 2000;

// The base address of the library (or program) that maps the address; null when none does.
const void* ModuleBase(const void* address) {
    Dl_info info{};
    if (address == nullptr || dladdr(address, &info) == 0)
        return nullptr;
    return info.dli_fbase;
}

std::vector<std::string> ListDirectory(const std::string& path, bool directories) {
    std::vector<std::string> names;
    DIR* dir = opendir(path.c_str());
    if (dir == nullptr)
        return names;
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        bool isDir = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK)
            isDir =
                IsFileExist(path + "/" + name + "/."); // NOLINT(performance-inefficient-string-concatenation)
        if (isDir == directories)
            names.push_back(name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

bool ParseInt(const std::string& text, long long& value) {
    if (text.empty())
        return false;
    std::size_t used = 0;
    try {
        value = std::stoll(text, &used);
    } catch (...) {
        return false;
    }
    return used == text.size();
}

bool ParseSeconds(const std::string& text, double& value) {
    if (text.empty())
        return false;
    std::size_t used = 0;
    try {
        value = std::stod(text, &used);
    } catch (...) {
        return false;
    }
    return used == text.size() && value >= 0;
}

} // namespace

std::vector<std::string> SplitCommandLine(const std::string& line) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        char c = line[i];
        if (quoted) {
            if (c == '\\' && i + 1 < line.size() && (line[i + 1] == '"' || line[i + 1] == '\\'))
                word.push_back(line[++i]);
            else if (c == '"')
                quoted = false;
            else
                word.push_back(c);
        } else if (c == '"') {
            quoted = true;
            inWord = true;
        } else if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            if (inWord)
                words.push_back(word);
            word.clear();
            inWord = false;
        } else {
            word.push_back(c);
            inWord = true;
        }
    }
    if (inWord)
        words.push_back(word);
    return words;
}

void HostLayout::ActivateWindow(IPluginWindow* window) {
    active_ = window;
    if (container_)
        container_->ActivateWindow(window);
}

void HostLayout::DeactivateWindow(IPluginWindow* window) {
    if (active_ != window)
        return;
    active_ = nullptr;
    if (window)
        window->SetVisible(false);
}

void HostLayout::GetClientRect(SkinRect& rect) {
    rect = container_ ? container_->GetRect() : SkinRect{};
}

void* HostLayout::GetHostWindow() {
    CDockFormEx* main = CSkinWndManager::GetInstance()->GetMainForm();
    return main ? main->GetSafeHwnd() : nullptr;
}

void HostLayout::Forget(IPluginWindow* window) {
    if (active_ == window)
        active_ = nullptr;
    if (container_)
        container_->RemovePluginWindow(window);
}

HostApp::HostApp(HostOptions options, std::ostream& out) : options_(std::move(options)), out_(out) {
    runtime::SetAppPath(options_.appDir);
    SetSystemCodePage(options_.codePage);
    runtime::SetLanguage(options_.language);
    auto& loop = runtime::UiLoop::Instance();
    loop.BindToCurrentThread();
    core_ = std::make_unique<runtime::TaviCore>(runtime::CoreConfig{options_.account, options_.password, 4},
                                                loop);
    runtime::TaviCore::Install(core_.get());
    CSkinWebBrowser::InitControlContainer();
    mainForm_ = runtime::CreateHostMainForm();
    if (mainForm_ == nullptr)
        Error("cannot build the main form: " + CSkinManager::GetInstance()->GetLastError());
    else {
        layout_.SetContainer(mainForm_->GetPluginContainer());
        mainForm_->GetSkinObject()->ListenEvent(kSkinEventClick, SkinEventHandler(this, &HostApp::OnMainFormClick));
    }
    runtime::SetMessageBoxResponder([this](const runtime::MessageBoxRequest& request) {
        return AnswerMessageBox(request.buttons, request.title, request.text);
    });
    // Notices and balloon tips show as they are raised; the notices and balloons commands list
    // them again.
    core_->GetNotifier().onNotice = [this](const runtime::Notifier::Notice& notice) {
        Say(DescribeNotice(notice));
    };
    core_->GetNotifier().onBalloon = [this](const runtime::Notifier::Balloon& balloon) {
        Say(DescribeBalloon(balloon));
    };
    // A window the plug-in takes back may be freed right after: the layout forgets it first.
    core_->GetWindowHost().onRemoved = [this](IPluginWindow* window) { layout_.Forget(window); };
    RegisterCommands();
    RegisterUiCommands();
}

HostApp::~HostApp() {
    UnloadPlugins();
    core_->GetWindowHost().onRemoved = nullptr;
    core_->GetNotifier().onNotice = nullptr;
    core_->GetNotifier().onBalloon = nullptr;
    runtime::SetMessageBoxResponder(nullptr);
    if (mainForm_) {
        layout_.SetContainer(nullptr);
        mainForm_->Release();
        mainForm_ = nullptr;
    }
    runtime::TaviCore::Install(nullptr);
    core_.reset();
}

int HostApp::AnswerMessageBox(int buttons, const std::string& title, const std::string& text) {
    static const char* const kNames[] = {"none", "yes", "no", "cancel"};
    std::string box = "msgbox " + CString_to_utf8(title) + ": " + CString_to_utf8(text);
    int answer = 0;
    if (!answers_.empty()) {
        answer = answers_.front();
        answers_.pop_front();
    } else if (dialog_) {
        answer = dialog_(buttons, CString_to_utf8(title), CString_to_utf8(text));
    } else if (asker_) {
        // A person at the terminal answers the box.
        std::string reply;
        if (asker_(box + (buttons >= kMsgBoxButtonsYesNo ? " [yes/no] " : " [ok] "), reply))
            answer = (reply == "y" || reply == "yes" || reply == "ok") ? kMsgBoxAnswerYes : kMsgBoxAnswerNo;
    }
    if (buttons == kMsgBoxButtonsOk)
        answer = kMsgBoxAnswerYes;
    else if (answer < kMsgBoxAnswerYes || answer > buttons)
        answer = buttons == kMsgBoxButtonsYesNoCancel ? kMsgBoxAnswerCancel : kMsgBoxAnswerNo;
    Say(box + " -> " + (buttons == kMsgBoxButtonsOk ? "ok" : kNames[answer]));
    return answer;
}

void HostApp::Say(const std::string& utf8Line) {
    out_ << TerminalSafe(utf8Line) << '\n' << std::flush;
}

void HostApp::SayLines(const std::string& utf8Text) {
    std::string lines;
    lines.reserve(utf8Text.size() + 64);
    std::size_t start = 0;
    while (true) {
        std::size_t end = utf8Text.find('\n', start);
        lines += TerminalSafe(utf8Text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        lines += '\n';
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    out_ << lines << std::flush;
}

void HostApp::Error(const std::string& message) {
    Say("error: " + message);
}

std::vector<HostApp::LoadedPlugin> HostApp::FindPlugins() {
    std::vector<LoadedPlugin> found;
    std::string pluginRoot = GetAppPath() + "plugin";
    for (const std::string& folder : ListDirectory(pluginRoot, true)) {
        std::string dir = pluginRoot;
        dir.append("/").append(folder).append("/");
        for (const std::string& file : ListDirectory(dir, false)) {
            if (file.size() > 3 && file.compare(file.size() - 3, 3, ".so") == 0)
                found.push_back(LoadedPlugin{dir + file, nullptr, nullptr});
        }
    }
    return found;
}

bool HostApp::StartPlugin(LoadedPlugin& loaded) {
    IPlugin* plugin = loaded.plugin;
    // As the messenger does: the plug-in's strings and skin files first, then its load.
    runtime::LoadStringTable(plugin->stringTableFilePath);
    plugin->ResetSkinFile();
    if (loaded.hook)
        runtime::AddPreTranslateHook(loaded.hook);
    void* parent = mainForm_ ? mainForm_->GetSafeHwnd() : nullptr;
    if (!plugin->OnLoad(parent, &layout_))
        Error("plug-in did not load: " + CString_to_utf8(plugin->name));
    plugins_.push_back(loaded);
    if (core_->GetMicroBlogService() != nullptr && IsFileExist(plugin->iconFilePath))
        ShowToolbarIcon(plugin->iconFilePath);
    PlacePluginWindows();
    Say("loaded " + CString_to_utf8(plugin->name) + " (" + std::to_string(plugin->pluginId) + ")");
    return true;
}

std::vector<std::pair<unsigned long long, std::string>> HostApp::PluginMenuItems() {
    std::vector<std::pair<unsigned long long, std::string>> items;
    for (LoadedPlugin& loaded : plugins_) {
        if (IMenu* menu = loaded.plugin->GetPluginMenu()) {
            items.emplace_back(menu->GetID(), CString_to_utf8(menu->GetText()));
            menu->Release();
        }
    }
    return items;
}

bool HostApp::ChoosePluginMenu(unsigned long long id) {
    bool chosen = false;
    // A choice may unload nothing but may open forms: the list is walked by index.
    for (std::size_t i = 0; i < plugins_.size() && !chosen; ++i) {
        IMenu* menu = plugins_[i].plugin->GetPluginMenu();
        if (menu == nullptr)
            continue;
        if (menu->GetID() == id) {
            menu->Choose();
            chosen = true;
        }
        menu->Release();
    }
    Pump();
    return chosen;
}

void HostApp::ShowToolbarIcon(const std::string& path) {
    CSkinButtonManager* buttons = mainForm_ ? mainForm_->GetButtonManager() : nullptr;
    CSkinButton* button = buttons ? buttons->FindButton(kToolbarMicroBlogId) : nullptr;
    if (button == nullptr || button->GetImagePath() == path)
        return;
    button->SetImagePath(path);
    buttons->RePositionSubControls();
    buttons->Refresh();
}

void HostApp::OnMainFormClick(CSkinObject* sender, void*) {
    if (sender == nullptr || sender->GetObjectID() != kToolbarMicroBlogId)
        return;
    // The plug-in comes forward in the host layout and shows its timeline, or its settings when no
    // account is bound.
    microblog::IMicroBlogService* service = core_->GetMicroBlogService();
    if (service == nullptr)
        return;
    PlacePluginWindows();
    service->ShowPlugin();
}

void HostApp::PlacePluginWindows() {
    CSkinPluginContainer* container = mainForm_ ? mainForm_->GetPluginContainer() : nullptr;
    if (container == nullptr)
        return;
    for (IPluginWindow* window : core_->GetWindowHost().GetWindows())
        if (window->GetParent() != container)
            container->AddPluginWindow(window);
    mainForm_->RePositionSubControls();
}

bool HostApp::LoadPlugins() {
    if (IsLoaded())
        return true;
    for (LoadedPlugin candidate : FindPlugins()) {
        candidate.handle = dlopen(candidate.path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (candidate.handle == nullptr) {
            Error(std::string("cannot load plug-in: ") + dlerror());
            continue;
        }
        auto factory =
            reinterpret_cast<GetTaviPluginInstanceFn>(dlsym(candidate.handle, "GetTaviPluginInstance"));
        candidate.plugin = factory ? factory() : nullptr;
        if (candidate.plugin == nullptr) {
            Error("not a plug-in: " + candidate.path);
            dlclose(candidate.handle);
            continue;
        }
        candidate.hook =
            reinterpret_cast<MyPreTranslateMessageFn>(dlsym(candidate.handle, "MyPreTranslateMessage"));
        StartPlugin(candidate);
    }
    return IsLoaded();
}

bool HostApp::AddPlugin(IPlugin* plugin, MyPreTranslateMessageFn hook) {
    if (plugin == nullptr)
        return false;
    LoadedPlugin loaded{"(built in)", nullptr, plugin, hook};
    return StartPlugin(loaded);
}

void HostApp::UnloadPlugins() {
    if (plugins_.empty())
        return;
    // Work about to finish may still reach the plug-ins' objects, for a moment.
    core_->WaitIdle(kUnloadSettleMilliseconds);
    // The messenger closes the plug-ins' forms before it unloads them.
    CSkinWndManager::GetInstance()->QueryCloseForms();
    for (auto it = plugins_.rbegin(); it != plugins_.rend(); ++it) {
        it->plugin->OnUnLoad();
        Say("unloaded " + CString_to_utf8(it->plugin->name));
    }
    // The plug-ins' tasks run their code to the end (an unload cancels their requests, so this is
    // short); the results they posted are meant for objects the unload freed, and are dropped. The
    // loop does not run in between.
    core_->WaitTasksEnded();
    for (const LoadedPlugin& loaded : plugins_) {
        const void* module = ModuleBase(loaded.plugin);
        if (module != nullptr)
            core_->DropCallbacks([module](const void* code) { return ModuleBase(code) == module; });
    }
    // A window the plug-in did not take back must not outlive its code in the container.
    if (CSkinPluginContainer* container = mainForm_ ? mainForm_->GetPluginContainer() : nullptr) {
        for (IPluginWindow* window : container->GetPluginWindows())
            layout_.Forget(window);
    }
    ShowToolbarIcon("");
    for (auto it = plugins_.rbegin(); it != plugins_.rend(); ++it) {
        if (it->hook)
            runtime::RemovePreTranslateHook(it->hook);
        if (it->handle)
            dlclose(it->handle);
    }
    plugins_.clear();
}

void HostApp::Pump() {
    core_->GetLoop().RunUntilIdle();
    if (echo_)
        EchoChanges();
}

void HostApp::SetEchoChanges(bool echo) {
    echo_ = echo;
    shown_ = Snapshot();
}

void HostApp::EchoChanges() {
    ScreenState now = Snapshot();
    auto added = [](const std::vector<std::string>& from, const std::vector<std::string>& to) {
        std::vector<std::string> out;
        for (const std::string& item : to)
            if (std::find(from.begin(), from.end(), item) == from.end())
                out.push_back(item);
        return out;
    };
    std::vector<std::string> panels = added(shown_.panels, now.panels);
    if (!panels.empty()) {
        std::string line = "-> showing";
        for (const std::string& panel : panels)
            line += " " + panel;
        Say(line);
    }
    for (const std::string& form : added(shown_.forms, now.forms))
        Say("-> form " + form + " open");
    for (const std::string& form : added(now.forms, shown_.forms))
        Say("-> form " + form + " closed");
    for (const std::string& button : added(shown_.toolbar, now.toolbar))
        Say("-> toolbar " + button);
    if (now.page != shown_.page && !now.page.empty())
        Say("-> page \"" + OneLine(now.pageTitle) + "\" with " + std::to_string(now.pageLinks) +
            " links (page prints it; follow N opens link N)");
    shown_ = std::move(now);
}

void HostApp::Add(const std::string& name, std::string usage, std::string help, Handler handler) {
    commands_[name] = Command{std::move(usage), std::move(help), std::move(handler)};
}

void HostApp::RegisterCommands() {
    Add("help", "help", "list the commands", [this](const std::vector<std::string>&) {
        for (const auto& [name, command] : commands_)
            Say("  " + command.usage +
                std::string(command.usage.size() < 24 ? 24 - command.usage.size() : 1, ' ') + command.help);
        Say("With the microblog: page reads the timeline and numbers its links; follow N runs link N");
        Say("(转发 retweet, 评论 comment, 收藏 favourite, 删除 delete, or a web page). To post: click BtnPublish,");
        Say("type EdtContent \"text\", click ButtonSend. screen shows the controls; click, type and check use them.");
    });
    Add("quit", "quit", "unload the plug-ins and end",
        [this](const std::vector<std::string>&) { quit_ = true; });
    Add("load", "load", "load the plug-ins again", [this](const std::vector<std::string>&) {
        if (IsLoaded())
            Error("plug-ins are loaded already");
        else if (!LoadPlugins())
            Error("no plug-in found under " + GetAppPath() + "plugin");
    });
    Add("unload", "unload", "unload the plug-ins", [this](const std::vector<std::string>&) {
        if (!IsLoaded())
            Error("no plug-in is loaded");
        UnloadPlugins();
    });
    Add("menu", "menu [ID]", "list the plug-ins' menu items, or choose one",
        [this](const std::vector<std::string>& args) {
            long long wanted = -1;
            if (args.size() > 1 && (!ParseInt(args[1], wanted) || wanted < 0)) {
                Error("menu: not a menu id: " + args[1]);
                return;
            }
            if (wanted < 0) {
                for (const auto& [id, text] : PluginMenuItems())
                    Say(std::to_string(id) + " " + text);
                return;
            }
            if (!ChoosePluginMenu(static_cast<unsigned long long>(wanted)))
                Error("menu: no item " + args[1]);
        });
    Add("settings", "settings", "open the plug-in's settings", [this](const std::vector<std::string>&) {
        if (plugins_.empty()) {
            Error("no plug-in is loaded");
            return;
        }
        for (LoadedPlugin& loaded : plugins_)
            if (!loaded.plugin->OpenSettings())
                Error("settings: the plug-in has no settings open now");
        Pump();
    });
    Add("rebuild", "rebuild", "read the skin files again and rebuild the plug-in windows, as a skin change does",
        [this](const std::vector<std::string>&) {
            if (plugins_.empty()) {
                Error("no plug-in is loaded");
                return;
            }
            for (LoadedPlugin& loaded : plugins_)
                loaded.plugin->ResetSkinFile();
            for (IPluginWindow* window : core_->GetWindowHost().GetWindows())
                window->BuildPluginWindow();
            PlacePluginWindows();
            Pump();
        });
    Add("wait", "wait", "run until no task or call is pending (60 s at most)",
        [this](const std::vector<std::string>&) {
            if (!core_->WaitIdle(kWaitBoundMilliseconds))
                Error("wait: still busy after 60 s");
        });
    Add("advance", "advance SECONDS", "move the clock forward, running the timers that fall due",
        [this](const std::vector<std::string>& args) {
            double seconds = 0;
            if (args.size() != 2 || !ParseSeconds(args[1], seconds)) {
                Error("advance: give a number of seconds");
                return;
            }
            core_->GetLoop().Advance(static_cast<std::int64_t>(seconds * 1000));
        });
    Add("notices", "notices", "list the notices raised so far", [this](const std::vector<std::string>&) {
        auto notices = core_->GetNotifier().GetNotices();
        if (notices.empty())
            Say("no notices");
        for (const auto& notice : notices)
            Say(DescribeNotice(notice));
    });
}

bool HostApp::Execute(const std::string& line) {
    std::vector<std::string> words = SplitCommandLine(line);
    if (!words.empty() && words[0][0] != '#')
        Run(words);
    return !quit_;
}

void HostApp::Run(const std::vector<std::string>& words) {
    auto found = commands_.find(words[0]);
    if (found == commands_.end()) {
        Error("unknown command: " + words[0] + " (try help)");
        return;
    }
    found->second.handler(words);
    if (echo_ && !quit_)
        EchoChanges();
}

} // namespace tavi::app
