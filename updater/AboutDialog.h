// The about box, reached from the main dialog's system menu.
#pragma once
#include "Dialog.h"
#include <cstdint>
#include <string>

// "Flashwell version : 1.0.0.2" for program "Flashwell" and packed version 0x01000002.
std::string FormatVersionLine(const std::string &programName, uint32_t packedVersion);

class AboutDialog : public CDialog {
public:
    explicit AboutDialog(CWnd *parent = nullptr);
    ~AboutDialog() override = default;

    // Shown in control 1008 in place of the template's text.
    std::string m_versionLine;

protected:
    void DoDataExchange(CDataExchange *dx) override;
    DECLARE_MESSAGE_MAP()
};
