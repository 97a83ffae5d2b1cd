#include "FileDialog.h"
#include "Wnd.h"
#include <algorithm>

CFileDialog::CFileDialog(BOOL openFileDialog, const char *defaultExtension, const char *fileName, DWORD flags,
                         const char *filter, CWnd *parent)
    : m_openFileDialog(openFileDialog),
      m_defaultExtension(defaultExtension ? defaultExtension : ""),
      m_filter(PlatformFilter(filter)),
      m_path(MAX_PATH + 1, '\0') {
    if (fileName) m_path.replace(0, std::min(m_path.size() - 1, std::string(fileName).size()), fileName);
    m_ofn.lStructSize = sizeof(m_ofn);
    m_ofn.hwndOwner = parent ? parent->m_hWnd : nullptr;
    m_ofn.lpstrFilter = m_filter.empty() ? nullptr : m_filter.c_str();
    m_ofn.nFilterIndex = 1;
    m_ofn.lpstrFile = m_path.data();
    m_ofn.nMaxFile = static_cast<DWORD>(m_path.size());
    m_ofn.lpstrDefExt = m_defaultExtension.empty() ? nullptr : m_defaultExtension.c_str();
    m_ofn.Flags = flags | OFN_EXPLORER;
}

std::string CFileDialog::PlatformFilter(const char *filter) {
    if (!filter || !*filter) return std::string();
    std::string converted(filter);
    for (char &c : converted)
        if (c == '|') c = '\0';
    converted.push_back('\0');  // with the string's own terminator: two NULs at the end
    return converted;
}

INT_PTR CFileDialog::DoModal() {
    BOOL confirmed = m_openFileDialog ? ::GetOpenFileNameA(&m_ofn) : ::GetSaveFileNameA(&m_ofn);
    return confirmed ? IDOK : IDCANCEL;
}
