// Install-<product>.exe: the installer's entry point.
#include "engine/exceptions.h"
#include "window/product_profile.h"
#include "window/application.h"
#include "window/tforminstallprogram.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    try {
        Application->Initialize();
        Application->MainFormOnTaskBar = true;
        Application->CreateForm(FormInstallProgram);
        FormInstallProgram->SetProgramName(kProductName);
        Application->Run();
    } catch (const Exception& error) {
        Application->ShowException(error);
    } catch (...) {
        Application->ShowException(Exception(""));
    }
    return 0;
}
