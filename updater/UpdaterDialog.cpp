#include "UpdaterDialog.h"
#include "AboutDialog.h"
#include "DataExchange.h"
#include "FileDialog.h"
#include "ImageFile.h"
#include "MessageBox.h"
#include "PaintDC.h"
#include "WinApp.h"
#include "WinThread.h"
#include "resource.h"
#include <commctrl.h>

namespace {

constexpr char kProgramName[] = "Flashwell";
// How long closing the dialog waits for a running update to let go of the board.
constexpr DWORD kSessionReleaseWaitMs = 10000;
constexpr char kImageFilter[] = "Image file(*.img)|*.img|All file(*.*)|*.*|";

// The worker thread's procedure: one update session, then the view (and with it
// the session) ends. Its parameter is the session's view of the dialog, never the
// dialog itself, which may be gone before the session ends.
UINT UpdateSession(LPVOID parameter) {
    std::unique_ptr<DialogUpdateView> view(static_cast<DialogUpdateView *>(parameter));
    RunUpdateSession(*view, LinkedCommunicator(), FindTargets, view->Interrupt());
    return 0;
}

}  // namespace

BEGIN_MESSAGE_MAP(UpdaterDialog, CDialog)
    ON_WM_SYSCOMMAND()
    ON_WM_PAINT()
    ON_WM_QUERYDRAGICON()
    ON_WM_DESTROY()
    ON_BN_CLICKED(IDC_UPDATE, &UpdaterDialog::OnClickedUpdate)
    ON_BN_CLICKED(IDC_SELECT_IMAGE, &UpdaterDialog::OnClickedSelectImage)
END_MESSAGE_MAP()

UpdaterDialog::UpdaterDialog(CWnd *parent)
    : CDialog(IDD_FLASHWELL_DIALOG, parent),
      // A shared icon of the program's resources: never destroyed.
      m_hIcon(::LoadIconA(AfxGetResourceHandle(), MAKEINTRESOURCEA(IDR_MAINFRAME))),
      m_sessionLink(std::make_shared<DialogSessionLink>()) {}

UpdaterDialog::~UpdaterDialog() { m_sessionLink->Detach(); }

void UpdaterDialog::DoDataExchange(CDataExchange *dx) {
    CDialog::DoDataExchange(dx);
    DDX_Control(dx, IDC_STATUS, m_status);
    DDX_Text(dx, IDC_IMAGE_PATH, m_imagePath);
    DDX_Control(dx, IDC_PROGRESS, m_progress);
    DDX_Control(dx, IDC_SELECT_IMAGE, m_selectImage);
    DDX_Control(dx, IDC_UPDATE, m_update);
    DDX_Control(dx, IDOK, m_exit);
    DDX_Text(dx, IDC_MODEL, m_model);
    DDX_Text(dx, IDC_VERSION, m_versionText);
    DDX_Control(dx, IDC_LOGO, m_logo);
}

BOOL UpdaterDialog::OnInitDialog() {
    CDialog::OnInitDialog();

    char aboutText[128] = {};
    HMENU systemMenu = GetSystemMenu(FALSE);
    if (systemMenu && ::LoadStringA(AfxGetResourceHandle(), IDS_ABOUTBOX, aboutText, sizeof(aboutText)) > 0) {
        ::AppendMenuA(systemMenu, MF_SEPARATOR, 0, nullptr);
        ::AppendMenuA(systemMenu, MF_STRING, IDM_ABOUTBOX, aboutText);
    }
    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);

    m_programVersion = ReadProgramVersion();
    m_progress.SendMessage(PBM_SETRANGE, 0, 0x00640000);
    m_progress.SendMessage(PBM_SETPOS, 0);

    m_sessionLink->Attach({m_status.m_hWnd, m_progress.m_hWnd, m_selectImage.m_hWnd, m_update.m_hWnd});
    UpdateData(FALSE);
    return TRUE;
}

void UpdaterDialog::OnDestroy() {
    // A running session must not reach this dialog from here on. Exit and the close box end a
    // running update the way Ctrl+C does in a console: the board is disconnected and closed
    // before the program ends with its dialog.
    m_sessionLink->Detach();
    m_sessionLink->InterruptSession(kSessionReleaseWaitMs);
    CDialog::OnDestroy();
}

void UpdaterDialog::OnSysCommand(UINT id, LPARAM lParam) {
    if ((id & 0xFFF0) == IDM_ABOUTBOX) {
        AboutDialog about(this);
        about.m_versionLine = FormatVersionLine(kProgramName, m_programVersion);
        about.DoModal();
    } else {
        CDialog::OnSysCommand(id, lParam);
    }
}

void UpdaterDialog::OnPaint() {
    if (!IsIconic()) {
        CDialog::OnPaint();
        return;
    }
    CPaintDC dc(this);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);
    int iconWidth = ::GetSystemMetrics(SM_CXICON);
    int iconHeight = ::GetSystemMetrics(SM_CYICON);
    RECT client{};
    GetClientRect(&client);
    int x = (client.right - client.left - iconWidth + 1) / 2;
    int y = (client.bottom - client.top - iconHeight + 1) / 2;
    ::DrawIcon(dc.GetSafeHdc(), x, y, m_hIcon);
}

HCURSOR UpdaterDialog::OnQueryDragIcon() { return static_cast<HCURSOR>(m_hIcon); }

void UpdaterDialog::OnClickedUpdate() {
    auto interrupt = std::make_shared<SessionInterrupt>();
    unsigned session = m_sessionLink->BeginSession(interrupt);
    if (session == 0) return;  // one runs already
    // The worker disables them too, but a click queued meanwhile must find them disabled.
    m_selectImage.EnableWindow(FALSE);
    m_update.EnableWindow(FALSE);
    auto view = std::make_unique<DialogUpdateView>(m_sessionLink, session, m_imagePath, AfxApplicationName(),
                                                   std::move(interrupt));
    if (AfxBeginThread(&UpdateSession, view.get(), THREAD_PRIORITY_NORMAL, 0, 0, nullptr)) {
        view.release();  // the worker owns it now
        return;
    }
    view.reset();  // ends the session
    m_selectImage.EnableWindow(TRUE);
    m_update.EnableWindow(TRUE);
    AfxMessageBox("Can't start the update.", MB_OK);
}

void UpdaterDialog::OnClickedSelectImage() {
    if (m_sessionLink->SessionRunning()) return;  // a click queued before the session disabled the button
    CFileDialog dialog(TRUE, nullptr, nullptr, OFN_PATHMUSTEXIST, kImageFilter, this);
    if (dialog.DoModal() != IDOK) return;
    const std::string path = dialog.GetPathName();
    const ImageCheckResult result = CheckImageFile(path, m_programVersion);
    switch (result.outcome) {
    case ImageCheckOutcome::Accepted:
        m_imagePath = path;
        m_model = result.model;
        m_versionText = result.versionText;
        m_update.EnableWindow(TRUE);
        UpdateData(FALSE);
        break;
    case ImageCheckOutcome::FileError:
        AfxReportFileOpenError(path);
        break;
    default:
        AfxMessageBox(ImageCheckMessage(result.outcome), MB_OK);
        break;
    }
}
