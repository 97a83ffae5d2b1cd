#include "AboutDialog.h"
#include "DataExchange.h"
#include "resource.h"
#include <cstdio>

std::string FormatVersionLine(const std::string &programName, uint32_t packedVersion) {
    char line[128];
    std::snprintf(line, sizeof(line), "%s version : %u.%u.%u.%u", programName.c_str(), (packedVersion >> 24) & 0xFFu,
                  (packedVersion >> 16) & 0xFFu, (packedVersion >> 8) & 0xFFu, packedVersion & 0xFFu);
    return line;
}

AboutDialog::AboutDialog(CWnd *parent) : CDialog(IDD_ABOUTBOX, parent) {}

void AboutDialog::DoDataExchange(CDataExchange *dx) {
    CDialog::DoDataExchange(dx);
    DDX_Text(dx, IDC_VERSION_LINE, m_versionLine);
}

BEGIN_MESSAGE_MAP(AboutDialog, CDialog)
END_MESSAGE_MAP()
