// Ids of the framework test's dialog template.
#pragma once
#define IDD_FRAMEWORK_TEST 200
#define IDC_NAME 1001
#define IDC_NUMBER 1002
#define IDC_LINK 1003
#define IDC_ACTION 1004
