// Flashwell's main dialog: pick an image file, then write it into the board,
// with a status line and a progress bar. Update runs the session on a worker
// thread; only one session runs at a time.
#pragma once
#include "Controls.h"
#include "Dialog.h"
#include "DialogUpdateView.h"
#include "MapHyperLink.h"
#include <cstdint>
#include <memory>
#include <string>

class UpdaterDialog : public CDialog {
public:
    explicit UpdaterDialog(CWnd *parent = nullptr);
    ~UpdaterDialog() override;

protected:
    HICON m_hIcon;
    CStatic m_status;
    std::string m_imagePath;
    CProgressCtrl m_progress;
    CButton m_selectImage;
    CButton m_update;
    CButton m_exit;
    std::string m_model;
    std::string m_versionText;
    CMapHyperLink m_logo;
    uint32_t m_programVersion = 0;
    // Shared with the running session's worker, which may outlive this dialog.
    std::shared_ptr<DialogSessionLink> m_sessionLink;

    void DoDataExchange(CDataExchange *dx) override;
    BOOL OnInitDialog() override;
    void OnSysCommand(UINT id, LPARAM lParam);
    void OnPaint();
    HCURSOR OnQueryDragIcon();
    void OnDestroy();
    void OnClickedUpdate();
    void OnClickedSelectImage();

    DECLARE_MESSAGE_MAP()
};
