#include "MapHyperLink.h"
#include "MakerWebAddress.h"
#include <shellapi.h>

IMPLEMENT_DYNAMIC(CMapHyperLink, CStatic)

BEGIN_MESSAGE_MAP(CMapHyperLink, CStatic)
    ON_CONTROL_REFLECT(STN_CLICKED, &CMapHyperLink::OnClicked)
END_MESSAGE_MAP()

void CMapHyperLink::PreSubclassWindow() {
    // Clicks reach the parent (and come back here) only with the notify style.
    ModifyStyle(0, SS_NOTIFY);
    m_link = kMakerWebAddress;
    m_toolTip.Create(this);
    if (m_toolTipText.empty()) m_toolTipText = m_link;
    RECT client{};
    GetClientRect(&client);
    m_toolTip.AddTool(this, m_toolTipText, client, 1);
    CStatic::PreSubclassWindow();
}

BOOL CMapHyperLink::PreTranslateMessage(MSG *msg) {
    m_toolTip.RelayEvent(msg);
    return CStatic::PreTranslateMessage(msg);
}

void CMapHyperLink::OnClicked() {
    ::ShellExecuteA(nullptr, "open", m_link.c_str(), nullptr, nullptr, SW_SHOW);
}
