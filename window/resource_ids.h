// Identifiers of the program's resources (resources.rc).
#pragma once

#define IDI_PROGRAM 1
#define IDB_FOLDER_TREE 100
// The site's public signing key, 64 bytes of RCDATA (site_key.rc), in a build
// configured with one.
#define IDR_SITE_KEY 200
