// The programs the end-to-end tests drive, as the test run was given them
// (--installer=PATH --demo-product=PATH --https-installer=PATH
// --keyed-installer=PATH), as Windows paths.
#pragma once

#include <string>

// Install-<product>.exe as the build made it.
const std::string& InstallerPath();
// The same program built for an HTTPS site (PRODUCT_SITE_SCHEME=https).
const std::string& HttpsInstallerPath();
// The same program built with the test run's site signing key (SITE_SIGNING_KEY).
const std::string& KeyedInstallerPath();
// The demo product's program, which the test site serves.
const std::string& DemoProductPath();
