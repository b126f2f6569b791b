// Identifiers of the program's resources (resources.rc).
#pragma once

#define IDI_PROGRAM 1
#define IDB_FOLDER_TREE 100
