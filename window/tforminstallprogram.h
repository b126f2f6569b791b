// The installer's one window: the destination folder, the Install and Cancel
// buttons, the site link, the run flag, the log panel. It is the engine's
// view of the form (InstallerForm).
#pragma once

#include "engine/fetch_status.h"
#include "engine/installer_form.h"
#include "ui/controls.h"
#include "ui/form.h"
#include "ui/taskbar_progress.h"
#include "runtime/gdi_handles.h"

#include <optional>
#include <string>
#include <vector>

class TFormInstallProgram : public ui::TForm, public engine::InstallerForm {
    // Borrowed by the controls below; declared first so that they go last.
    std::vector<runtime::UniqueGdiObject> fonts_;

public:
    // Creates the hidden window from its layout (form_layout.cpp).
    TFormInstallProgram();

    // Controls, in the order of the layout.
    ui::Panel PanelTop;
    ui::Label Label1;
    ui::SpeedButton SBOpenPathDest;
    ui::Edit EditPathDest;
    ui::Button updates;
    ui::Button dovrin;
    ui::CheckBox CheckBoxRun;
    ui::Memo MemoInform;
    ui::StatusBar StatusBar1;
    ui::Label LabelSite;

    // Event handlers, attached by the layout.
    void SBOpenPathDestClick(ui::Control& Sender);
    void dovrinClick(ui::Control& Sender);
    void updatesClick(ui::Control& Sender);
    void Label1Click(ui::Control& Sender);
    void Label1MouseLeave(ui::Control& Sender);
    void Label1MouseMove(ui::Control& Sender);
    void LabelSiteClick(ui::Control& Sender);
    void EditPathDestChange(ui::Control& Sender);
    void FormShow(ui::Control& Sender);

    // Set once by the entry point before the window is shown.
    void SetProgramName(const std::string& name) { programName_ = name; }
    void SetSiteOverHttps(bool overHttps) { siteOverHttps_ = overHttps; }

    // InstallerForm
    const std::string& ProgramName() const override { return programName_; }
    runtime::TDateTime LastLogTime() const override { return lastLogTime_; }
    void SetLastLogTime(runtime::TDateTime value) override { lastLogTime_ = value; }
    std::string DestinationText() const override { return EditPathDest.Text(); }
    std::string SiteHost() const override { return LabelSite.Text(); }
    bool SiteOverHttps() const override { return siteOverHttps_; }
    const engine::P256PublicKey* SiteSigningKey() const override { return siteKey_ ? &*siteKey_ : nullptr; }
    bool RunAfterInstall() const override { return CheckBoxRun.Checked(); }
    void SetCancelCaption(const std::string& caption) override { dovrin.SetText(caption); }
    int LogLineCount() const override { return MemoInform.LineCount(); }
    void ClearLog() override { MemoInform.Clear(); }
    void AppendLogLine(const std::string& line) override { MemoInform.AppendLine(line); }
    void ProcessMessages() override;
    bool WaitAnswering(HANDLE event, DWORD timeoutMs) override;
    void ShowFileProgress(const engine::FileProgress& progress) override;
    void Close() override { TForm::Close(); }
    void ShellOpen(const std::string& target) override;

    // The tool-tips of Label1, LabelSite and updates.
    const ui::ToolTips& Hints() const { return hints_; }

private:
    // What a click asked for while a file was being fetched, done once it
    // has come (the folder picker's and the shell's waits would hold it).
    enum Deferred : unsigned { kPickFolder = 1, kOpenDestination = 2, kOpenSite = 4 };
    // Whether the action waits; if so, it is remembered.
    bool Defer(Deferred action);
    void RunDeferred();
    // The status bar and the taskbar button as outside a run.
    void ClearProgress();

    std::string programName_;
    engine::FetchStatus fetchStatus_;
    ui::TaskbarProgress taskbar_;
    bool waiting_ = false;  // in WaitAnswering
    unsigned deferred_ = 0;
    bool siteOverHttps_ = false;
    runtime::TDateTime lastLogTime_ = 0;
    std::optional<engine::P256PublicKey> siteKey_;
    ui::ToolTips hints_;
    friend void LoadFormLayout(TFormInstallProgram& form);
};

// The program's main form.
extern TFormInstallProgram* FormInstallProgram;

// Lets tests decide whether the folder that moves the proposed destination to
// drive D: exists; nullptr restores the real folder test.
void SetProgramsFolderExistsForTesting(bool (*exists)(const std::string& folder));
