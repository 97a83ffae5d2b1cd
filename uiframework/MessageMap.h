// Message maps: each class lists the messages and commands it handles in a static
// table, chained to its base class's table. A window looks a message up along the
// chain and runs the first match; unmatched messages get the default handling.
//
//   class MyDialog : public CDialog { ... DECLARE_MESSAGE_MAP() };
//   BEGIN_MESSAGE_MAP(MyDialog, CDialog)
//       ON_WM_PAINT()                                   // void OnPaint()
//       ON_BN_CLICKED(1001, &MyDialog::OnClickedUpdate) // void OnClickedUpdate()
//   END_MESSAGE_MAP()
//
// Handlers are named with their class (&Class::Function). Each entry stores a small
// typed thunk made from the member pointer, so a handler of the wrong signature does
// not compile.
#pragma once
#include <windows.h>

class CCmdTarget;

// Runs one handler for a message and stores what the window procedure returns.
using AfxHandlerThunk = void (*)(CCmdTarget *target, WPARAM wParam, LPARAM lParam, LRESULT &result);

// Notifications that a control's parent hands back to the control itself.
constexpr UINT AFX_WM_REFLECT_BASE = 0xBC00;

struct AFX_MSGMAP_ENTRY {
    UINT message;             // window message; WM_COMMAND or AFX_WM_REFLECT_BASE + WM_COMMAND for commands
    UINT code;                // notification code of a command (BN_CLICKED, ...), else 0
    UINT id;                  // command or control id of a command, else 0
    AfxHandlerThunk handler;  // null ends a table
};

struct AFX_MSGMAP {
    const AFX_MSGMAP *(*base)();  // null for the root
    const AFX_MSGMAP_ENTRY *entries;
};

// Minimal run-time class information: a class name and the base class's record.
struct CRuntimeClass {
    const char *m_lpszClassName;
    const CRuntimeClass *m_pBaseClass;
    BOOL IsDerivedFrom(const CRuntimeClass *base) const;
};

#define RUNTIME_CLASS(theClass) (&theClass::classInfo##theClass)
#define DECLARE_DYNAMIC(theClass)                        \
public:                                                  \
    static const CRuntimeClass classInfo##theClass;      \
    const CRuntimeClass *GetRuntimeClass() const override;
#define IMPLEMENT_DYNAMIC(theClass, baseClass)                                                        \
    const CRuntimeClass theClass::classInfo##theClass = {#theClass, RUNTIME_CLASS(baseClass)};        \
    const CRuntimeClass *theClass::GetRuntimeClass() const { return RUNTIME_CLASS(theClass); }

// Root of everything that has a message map: windows and the application object.
class CCmdTarget {
public:
    static const CRuntimeClass classInfoCCmdTarget;
    CCmdTarget() = default;
    CCmdTarget(const CCmdTarget &) = delete;
    CCmdTarget &operator=(const CCmdTarget &) = delete;
    virtual ~CCmdTarget() = default;
    virtual const CRuntimeClass *GetRuntimeClass() const;

    // Runs this object's handler for a command; FALSE when its map has none.
    virtual BOOL OnCmdMsg(UINT id, UINT code);

    // The first entry along the map chain for a message (commands: with code and id).
    const AFX_MSGMAP_ENTRY *FindMessageEntry(UINT message, UINT code, UINT id) const;

    static const AFX_MSGMAP *GetThisMessageMap();

protected:
    virtual const AFX_MSGMAP *GetMessageMap() const;
};

namespace afx {
template <class> struct MemberOf;
template <class C, class F> struct MemberOf<F C::*> { using Class = C; };
template <auto Fn> using ClassOf = typename MemberOf<decltype(Fn)>::Class;

template <auto Fn> void CallVoid(CCmdTarget *target, WPARAM, LPARAM, LRESULT &result) {
    (static_cast<ClassOf<Fn> *>(target)->*Fn)();
    result = 0;
}
template <auto Fn> void CallSysCommand(CCmdTarget *target, WPARAM wParam, LPARAM lParam, LRESULT &result) {
    (static_cast<ClassOf<Fn> *>(target)->*Fn)(static_cast<UINT>(wParam), lParam);
    result = 0;
}
template <auto Fn> void CallQueryDragIcon(CCmdTarget *target, WPARAM, LPARAM, LRESULT &result) {
    result = reinterpret_cast<LRESULT>((static_cast<ClassOf<Fn> *>(target)->*Fn)());
}
template <auto Fn> void CallMessage(CCmdTarget *target, WPARAM wParam, LPARAM lParam, LRESULT &result) {
    result = (static_cast<ClassOf<Fn> *>(target)->*Fn)(wParam, lParam);
}
}  // namespace afx

#define DECLARE_MESSAGE_MAP()                          \
public:                                                \
    static const AFX_MSGMAP *GetThisMessageMap();      \
                                                       \
protected:                                             \
    const AFX_MSGMAP *GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                  \
    const AFX_MSGMAP *theClass::GetMessageMap() const { return GetThisMessageMap(); } \
    const AFX_MSGMAP *theClass::GetThisMessageMap() {                          \
        using ThisClass = theClass;                                             \
        using TheBaseClass = baseClass;                                         \
        static_assert(sizeof(ThisClass) > 0, "complete class");                \
        static const AFX_MSGMAP_ENTRY entries[] = {
#define END_MESSAGE_MAP()                                                       \
    {0, 0, 0, nullptr}};                                                        \
    static const AFX_MSGMAP map = {&TheBaseClass::GetThisMessageMap, entries}; \
    return &map;                                                                \
    }

// Commands (menu items, buttons) and control notifications to the parent.
#define ON_COMMAND(id, memberFn) {WM_COMMAND, 0, (id), &afx::CallVoid<memberFn>},
#define ON_CONTROL(code, id, memberFn) {WM_COMMAND, (code), (id), &afx::CallVoid<memberFn>},
#define ON_BN_CLICKED(id, memberFn) ON_CONTROL(BN_CLICKED, id, memberFn)
#define ON_EN_CHANGE(id, memberFn) ON_CONTROL(EN_CHANGE, id, memberFn)
#define ON_CBN_SELCHANGE(id, memberFn) ON_CONTROL(CBN_SELCHANGE, id, memberFn)
#define ON_LBN_SELCHANGE(id, memberFn) ON_CONTROL(LBN_SELCHANGE, id, memberFn)
#define ON_LBN_DBLCLK(id, memberFn) ON_CONTROL(LBN_DBLCLK, id, memberFn)
// A control's own notification, handed back to it by its parent.
#define ON_CONTROL_REFLECT(code, memberFn) {AFX_WM_REFLECT_BASE + WM_COMMAND, (code), 0, &afx::CallVoid<memberFn>},

// Window messages with fixed handler names, and any message by number.
#define ON_WM_PAINT() {WM_PAINT, 0, 0, &afx::CallVoid<&ThisClass::OnPaint>},
#define ON_WM_DESTROY() {WM_DESTROY, 0, 0, &afx::CallVoid<&ThisClass::OnDestroy>},
#define ON_WM_SYSCOMMAND() {WM_SYSCOMMAND, 0, 0, &afx::CallSysCommand<&ThisClass::OnSysCommand>},
#define ON_WM_QUERYDRAGICON() {WM_QUERYDRAGICON, 0, 0, &afx::CallQueryDragIcon<&ThisClass::OnQueryDragIcon>},
#define ON_MESSAGE(message, memberFn) {(message), 0, 0, &afx::CallMessage<memberFn>},
