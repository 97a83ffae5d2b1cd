// The logo link: once bound to its static control it notifies clicks and shows
// the maker's web address as its tooltip.
#include "MakerWebAddress.h"
#include "MapHyperLink.h"
#include <gtest/gtest.h>
#include <commctrl.h>
#include <string>

namespace {

struct TipSearch {
    HWND found = nullptr;
};

BOOL CALLBACK FindToolTip(HWND window, LPARAM parameter) {
    char name[64] = {};
    ::GetClassNameA(window, name, sizeof(name));
    if (std::string(name) == TOOLTIPS_CLASSA) {
        reinterpret_cast<TipSearch *>(parameter)->found = window;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

TEST(MapHyperLink, BindingAddsNotifyAndTheMakersAddressAsTooltip) {
    ::InitCommonControls();
    HWND logo = ::CreateWindowExA(0, "Static", "", WS_POPUP | SS_BITMAP, 0, 0, 260, 68, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, logo);
    {
        CMapHyperLink link;
        EXPECT_STREQ("CMapHyperLink", link.GetRuntimeClass()->m_lpszClassName);
        EXPECT_TRUE(link.GetRuntimeClass()->IsDerivedFrom(RUNTIME_CLASS(CStatic)));
        ASSERT_TRUE(link.SubclassWindow(logo));
        EXPECT_TRUE(::GetWindowLongPtrA(logo, GWL_STYLE) & SS_NOTIFY);

        TipSearch search;
        ::EnumThreadWindows(::GetCurrentThreadId(), &FindToolTip, reinterpret_cast<LPARAM>(&search));
        ASSERT_NE(nullptr, search.found);
        EXPECT_EQ(1, ::SendMessageA(search.found, TTM_GETTOOLCOUNT, 0, 0));
        char text[128] = {};
        TTTOOLINFOA tool{};
        tool.cbSize = sizeof(tool);
        tool.hwnd = logo;
        tool.uId = 1;
        tool.lpszText = text;
        ::SendMessageA(search.found, TTM_GETTEXTA, sizeof(text), reinterpret_cast<LPARAM>(&tool));
        EXPECT_STREQ(kMakerWebAddress, text);
        // The tool covers the control's whole client area.
        tool.lpszText = nullptr;
        ASSERT_TRUE(::SendMessageA(search.found, TTM_GETTOOLINFOA, 0, reinterpret_cast<LPARAM>(&tool)));
        EXPECT_EQ(260, tool.rect.right - tool.rect.left);
        EXPECT_EQ(68, tool.rect.bottom - tool.rect.top);
    }
    // The link's tooltip went with it; the control stays.
    TipSearch after;
    ::EnumThreadWindows(::GetCurrentThreadId(), &FindToolTip, reinterpret_cast<LPARAM>(&after));
    EXPECT_EQ(nullptr, after.found);
    EXPECT_TRUE(::IsWindow(logo));
    ::DestroyWindow(logo);
}
