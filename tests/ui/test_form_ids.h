// Identifiers of the UI tests' resources (ui_tests.rc).
#pragma once

#define IDI_TEST_FORM 1
