// The programs the end-to-end tests drive, as the test run was given them
// (--installer=PATH --keyed-installer=PATH --demo-product=PATH), as Windows paths.
#pragma once

#include <string>

// Install-<product>.exe as the build made it.
const std::string& InstallerPath();
// The same installer built with the test run's site signing key.
const std::string& KeyedInstallerPath();
// The demo product's program, which the test site serves.
const std::string& DemoProductPath();
