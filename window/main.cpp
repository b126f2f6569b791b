// Install-<product>.exe: the installer's entry point.
#include "runtime/exceptions.h"
#include "window/product_profile.h"
#include "window/site_scheme.h"
#include "ui/application.h"
#include "window/tforminstallprogram.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    try {
        ui::Application->Initialize();
        ui::Application->MainFormOnTaskBar = true;
        ui::Application->CreateForm(FormInstallProgram);
        FormInstallProgram->SetProgramName(kProductName);
        FormInstallProgram->SetSiteOverHttps(kSiteOverHttps);
        ui::Application->Run();
    } catch (const runtime::Exception& error) {
        ui::Application->ShowException(error);
    } catch (...) {
        ui::Application->ShowException(runtime::Exception(""));
    }
    return 0;
}
