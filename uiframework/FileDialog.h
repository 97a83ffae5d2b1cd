// The platform's open-file (or save-file) dialog.
//   CFileDialog dialog(TRUE, nullptr, nullptr, OFN_PATHMUSTEXIST, "Text(*.txt)|*.txt|All(*.*)|*.*|", parent);
//   if (dialog.DoModal() == IDOK) use(dialog.GetPathName());
// The filter lists pairs of a description and a pattern, each ended by '|'.
#pragma once
#include <windows.h>
#include <commdlg.h>
#include <string>

class CWnd;

class CFileDialog {
public:
    CFileDialog(BOOL openFileDialog, const char *defaultExtension = nullptr, const char *fileName = nullptr,
                DWORD flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, const char *filter = nullptr,
                CWnd *parent = nullptr);
    CFileDialog(const CFileDialog &) = delete;
    CFileDialog &operator=(const CFileDialog &) = delete;

    // IDOK when the user confirmed a file, else IDCANCEL.
    INT_PTR DoModal();
    std::string GetPathName() const { return m_path.data(); }

    OPENFILENAMEA m_ofn{};

    // "A|*.a|B|*.*|" in the platform's form: NUL-separated, ended by two NULs.
    static std::string PlatformFilter(const char *filter);

private:
    BOOL m_openFileDialog;
    std::string m_defaultExtension;
    std::string m_filter;
    std::string m_path;
};
