// CMapHyperLink: the maker's logo on the main dialog as a link. It shows the
// maker's web address as its tooltip and opens it in the default browser when
// clicked.
#pragma once
#include "Controls.h"
#include <string>

class CMapHyperLink : public CStatic {
    DECLARE_DYNAMIC(CMapHyperLink)
public:
    CMapHyperLink() = default;
    ~CMapHyperLink() override = default;

    BOOL PreTranslateMessage(MSG *msg) override;

protected:
    void PreSubclassWindow() override;
    void OnClicked();

    std::string m_link;
    std::string m_toolTipText;
    CToolTipCtrl m_toolTip;

    DECLARE_MESSAGE_MAP()
};
