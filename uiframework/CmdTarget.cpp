#include "MessageMap.h"

const CRuntimeClass CCmdTarget::classInfoCCmdTarget = {"CCmdTarget", nullptr};

BOOL CRuntimeClass::IsDerivedFrom(const CRuntimeClass *base) const {
    for (const CRuntimeClass *at = this; at; at = at->m_pBaseClass)
        if (at == base) return TRUE;
    return FALSE;
}

const CRuntimeClass *CCmdTarget::GetRuntimeClass() const { return RUNTIME_CLASS(CCmdTarget); }

const AFX_MSGMAP *CCmdTarget::GetThisMessageMap() {
    static const AFX_MSGMAP_ENTRY entries[] = {{0, 0, 0, nullptr}};
    static const AFX_MSGMAP map = {nullptr, entries};
    return &map;
}

const AFX_MSGMAP *CCmdTarget::GetMessageMap() const { return GetThisMessageMap(); }

const AFX_MSGMAP_ENTRY *CCmdTarget::FindMessageEntry(UINT message, UINT code, UINT id) const {
    for (const AFX_MSGMAP *map = GetMessageMap(); map; map = map->base ? map->base() : nullptr) {
        for (const AFX_MSGMAP_ENTRY *entry = map->entries; entry->handler; ++entry)
            if (entry->message == message && entry->code == code && entry->id == id) return entry;
    }
    return nullptr;
}

BOOL CCmdTarget::OnCmdMsg(UINT id, UINT code) {
    const AFX_MSGMAP_ENTRY *entry = FindMessageEntry(WM_COMMAND, code, id);
    if (!entry) return FALSE;
    LRESULT ignored = 0;
    entry->handler(this, MAKEWPARAM(id, code), 0, ignored);
    return TRUE;
}
