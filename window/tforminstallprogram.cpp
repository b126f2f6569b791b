#include "window/tforminstallprogram.h"

#include "runtime/date_time.h"
#include "runtime/file_system.h"
#include "engine/install_run.h"
#include "runtime/narrow_text.h"
#include "window/product_profile.h"
#include "ui/application.h"
#include "window/folder_picker.h"
#include "window/form_layout.h"
#include "window/site_key.h"
#include "window/shell_open.h"

using runtime::ReplaceAll;
using ui::Control;

TFormInstallProgram* FormInstallProgram = nullptr;

namespace {

// A folder there moves the proposed destination to drive D:.
constexpr char kProgramsFolderOnD[] = "D:\\Programs";

bool (*programsFolderExists)(const std::string&) = nullptr;

bool ProgramsFolderExists(const std::string& folder) {
    return programsFolderExists != nullptr ? programsFolderExists(folder) : runtime::DirectoryExists(folder);
}

constexpr COLORREF kBlue = RGB(0, 0, 255);
constexpr COLORREF kNavy = RGB(0, 0, 128);

}  // namespace

void SetProgramsFolderExistsForTesting(bool (*exists)(const std::string& folder)) { programsFolderExists = exists; }

TFormInstallProgram::TFormInstallProgram() : siteKey_(LoadSiteSigningKey()) { LoadFormLayout(*this); }

void TFormInstallProgram::FormShow(Control&) {
    MemoInform.SetText(ReplaceAll(MemoInform.Text(), "Tirven", programName_));
    if (programName_ == "Pelmar") {
        LabelSite.SetText(kProductSiteHost);
        MemoInform.SetText(ReplaceAll(MemoInform.Text(), kMakerSiteHost, kProductSiteHost));
        MemoInform.SetText(ReplaceAll(MemoInform.Text(), kMakerEmail, kProductEmail));
        CheckBoxRun.SetChecked(true);
    } else if (programName_ == "Zunt") {
        MemoInform.SetText(ReplaceAll(MemoInform.Text(), "tirven", "zunt"));
    }
    EditPathDest.SetText(ProgramsFolderExists(kProgramsFolderOnD) ? "D:" : "C:");
    EditPathDest.SetText(EditPathDest.Text() + "\\Programs\\" + programName_);
    lastLogTime_ = runtime::Now();
}

void TFormInstallProgram::EditPathDestChange(Control&) {
    // A folder of that name does not count.
    bool present = runtime::FileExists(EditPathDest.Text() + "\\" + programName_ + ".exe");
    SetCaption(std::string(present ? "Обновление " : "Установка ") + "программы " + programName_);
    updates.SetText(present ? "Обновить" : "Установить");
}

void TFormInstallProgram::SBOpenPathDestClick(Control&) {
    if (Defer(kPickFolder)) return;
    std::optional<std::string> folder = PickFolder(Handle(), FolderPickerSettingsFor(EditPathDest.Text()));
    if (folder) EditPathDest.SetText(*folder);
}

void TFormInstallProgram::LabelSiteClick(Control&) {
    if (Defer(kOpenSite)) return;
    ShellOpen(LabelSite.Text());
}

void TFormInstallProgram::Label1MouseMove(Control& Sender) {
    if (auto* label = dynamic_cast<ui::Label*>(&Sender)) label->SetFontColor(kBlue);
}

void TFormInstallProgram::Label1MouseLeave(Control& Sender) {
    if (auto* label = dynamic_cast<ui::Label*>(&Sender)) label->SetFontColor(kNavy);
}

void TFormInstallProgram::dovrinClick(Control&) { Close(); }

void TFormInstallProgram::updatesClick(Control&) {
    // A second press, while the run lets messages through, changes nothing.
    if (engine::InstallRunning()) return;
    // Whatever the outcome, an exception included.
    struct ProgressCleared {
        TFormInstallProgram& form;
        ~ProgressCleared() { form.ClearProgress(); }
    } cleared{*this};
    engine::RunInstall(*this);
    RunDeferred();
}

void TFormInstallProgram::Label1Click(Control&) {
    if (Defer(kOpenDestination)) return;
    engine::OpenDestination(*this);
}

void TFormInstallProgram::ProcessMessages() {
    RunDeferred();
    ui::Application->ProcessMessages();
}

bool TFormInstallProgram::WaitAnswering(HANDLE event, DWORD timeoutMs) {
    // Nested waits do not happen: nothing the wait dispatches starts a fetch.
    waiting_ = true;
    bool set = ui::Application->WaitAnswering(event, timeoutMs);
    waiting_ = false;
    return set;
}

void TFormInstallProgram::ShowFileProgress(const engine::FileProgress& progress) {
    std::optional<std::string> text = fetchStatus_.Next(progress, GetTickCount());
    if (!text) return;
    StatusBar1.SetText(*text);
    taskbar_.Show(Handle(), progress.received, progress.total);
    // A fast site may never make the run wait: the window answers here too,
    // at the pace of the status line.
    waiting_ = true;
    ui::Application->AnswerWaiting();
    waiting_ = false;
}

void TFormInstallProgram::ClearProgress() {
    StatusBar1.SetText("");
    taskbar_.Clear(Handle());
    fetchStatus_.Reset();
    deferred_ = 0;
}

bool TFormInstallProgram::Defer(Deferred action) {
    if (!waiting_) return false;
    deferred_ |= action;
    return true;
}

void TFormInstallProgram::RunDeferred() {
    const unsigned actions = deferred_;
    deferred_ = 0;
    if (actions & kPickFolder) SBOpenPathDestClick(SBOpenPathDest);
    if (actions & kOpenDestination) Label1Click(Label1);
    if (actions & kOpenSite) LabelSiteClick(LabelSite);
}

void TFormInstallProgram::ShellOpen(const std::string& target) { OpenThroughShell(Handle(), target); }
