// The programs the end-to-end tests drive, as the test run was given them
// (--installer=PATH --demo-product=PATH), as Windows paths.
#pragma once

#include <string>

// Install-<product>.exe as the build made it.
const std::string& InstallerPath();
// The demo product's program, which the test site serves.
const std::string& DemoProductPath();
