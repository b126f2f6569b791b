// e2e_tests --installer=PATH --demo-product=PATH [--https-installer=PATH] [--keyed-installer=PATH] [gtest flags]
#include "tests/e2e/installer_driver.h"
#include "tests/e2e/programs.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

std::string installerPath;
std::string demoProductPath;
std::string httpsInstallerPath;
std::string keyedInstallerPath;

}  // namespace

const std::string& InstallerPath() { return installerPath; }
const std::string& DemoProductPath() { return demoProductPath; }
const std::string& HttpsInstallerPath() { return httpsInstallerPath; }
const std::string& KeyedInstallerPath() { return keyedInstallerPath; }

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        if (argument.rfind("--installer=", 0) == 0) installerPath = WindowsPathFromUnix(argument.substr(12));
        if (argument.rfind("--demo-product=", 0) == 0) demoProductPath = WindowsPathFromUnix(argument.substr(15));
        if (argument.rfind("--https-installer=", 0) == 0) httpsInstallerPath = WindowsPathFromUnix(argument.substr(18));
        if (argument.rfind("--keyed-installer=", 0) == 0) keyedInstallerPath = WindowsPathFromUnix(argument.substr(18));
    }
    if (installerPath.empty() || demoProductPath.empty()) {
        std::fprintf(stderr, "usage: e2e_tests --installer=PATH --demo-product=PATH [gtest flags]\n");
        return 2;
    }
    return RUN_ALL_TESTS();
}
