#include "web_browser_host.h"

#include "messenger.h"

#include <QCoreApplication>
#include <QFocusEvent>
#include <QLabel>
#include <QVBoxLayout>

#include <atomic>
#include <docobj.h>
#include <exdisp.h>
#include <exdispid.h>
#include <mshtmhst.h>
#include <ocidl.h>
#include <ole2.h>
#include <oleidl.h>
#include <windows.h>

namespace mizong {

namespace {

std::atomic<int> g_liveSites{0};

constexpr DWORD kHostFlags =
    DOCHOSTUIFLAG_DPI_AWARE | DOCHOSTUIFLAG_NO3DBORDER | DOCHOSTUIFLAG_THEME;

// CGID_DocHostCommandHandler: the commands MSHTML asks its host about.
constexpr GUID kDocHostCommandHandler = {
    0xf38bc242, 0xb950, 0x11d1, {0x89, 0x18, 0x00, 0xc0, 0x4f, 0xc2, 0xc8, 0x36}};

// KEYMOD_SHIFT of IOleControlSite::TranslateAccelerator's modifiers.
constexpr DWORD kShiftModifier = 0x1;

// Where the page's new windows go when the host is given no opener.
DesktopLinkOpener g_desktopOpener;

template <typename T> void release(T*& pointer)
{
    if (pointer) {
        pointer->Release();
        pointer = nullptr;
    }
}

} // namespace

// What the control sees of its container: one object for the client site,
// the in-place site and frame, the control site, the document host and its
// command target, and the sink of the control's events, all answering with
// the host's window. It offers no menus, toolbars or status bar of its own.
class OleSite final : public IOleClientSite,
                      public IOleInPlaceSite,
                      public IOleInPlaceFrame,
                      public IOleControlSite,
                      public IDocHostUIHandler,
                      public IOleCommandTarget,
                      public IDispatch
{
public:
    OleSite(HWND window, WebBrowserHost* host) : m_window(window), m_host(host) { ++g_liveSites; }
    Q_DISABLE_COPY_MOVE(OleSite)

    // The host is going: nothing reaches it any more.
    void detach()
    {
        m_host = nullptr;
        release(m_activeObject);
    }
    IOleInPlaceActiveObject* activeObject() const { return m_activeObject; }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) override
    {
        if (!object)
            return E_POINTER;
        if (IsEqualIID(id, IID_IUnknown) || IsEqualIID(id, IID_IOleClientSite))
            *object = static_cast<IOleClientSite*>(this);
        else if (IsEqualIID(id, IID_IOleWindow) || IsEqualIID(id, IID_IOleInPlaceSite))
            *object = static_cast<IOleInPlaceSite*>(this);
        else if (IsEqualIID(id, IID_IOleInPlaceUIWindow) || IsEqualIID(id, IID_IOleInPlaceFrame))
            *object = static_cast<IOleInPlaceFrame*>(this);
        else if (IsEqualIID(id, IID_IOleControlSite))
            *object = static_cast<IOleControlSite*>(this);
        else if (IsEqualIID(id, IID_IDocHostUIHandler))
            *object = static_cast<IDocHostUIHandler*>(this);
        else if (IsEqualIID(id, IID_IOleCommandTarget))
            *object = static_cast<IOleCommandTarget*>(this);
        else if (IsEqualIID(id, IID_IDispatch) || IsEqualIID(id, DIID_DWebBrowserEvents2))
            *object = static_cast<IDispatch*>(this);
        else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_references; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG left = --m_references;
        if (left == 0)
            delete this;
        return left;
    }

    // IOleClientSite
    HRESULT STDMETHODCALLTYPE SaveObject() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker** moniker) override
    {
        if (moniker)
            *moniker = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetContainer(IOleContainer** container) override
    {
        if (container)
            *container = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE ShowObject() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnShowWindow(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE RequestNewObjectLayout() override { return E_NOTIMPL; }

    // IOleWindow, for both the in-place site and the frame
    HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override
    {
        if (!window)
            return E_POINTER;
        *window = m_window;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

    // IOleInPlaceSite
    HRESULT STDMETHODCALLTYPE CanInPlaceActivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnInPlaceActivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnUIActivate() override
    {
        if (m_host)
            m_host->pageActivated();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetWindowContext(IOleInPlaceFrame** frame,
                                               IOleInPlaceUIWindow** document, RECT* position,
                                               RECT* clip, OLEINPLACEFRAMEINFO* frameInfo) override
    {
        if (!frame || !document || !position || !clip || !frameInfo)
            return E_POINTER;
        *frame = this;
        AddRef();
        *document = nullptr;
        GetClientRect(m_window, position);
        *clip = *position;
        frameInfo->fMDIApp = FALSE;
        frameInfo->hwndFrame = m_window;
        frameInfo->haccel = nullptr;
        frameInfo->cAccelEntries = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Scroll(SIZE) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnUIDeactivate(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnInPlaceDeactivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE DiscardUndoState() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DeactivateAndUndo() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnPosRectChange(LPCRECT) override { return S_OK; }

    // IOleInPlaceUIWindow
    HRESULT STDMETHODCALLTYPE GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
    HRESULT STDMETHODCALLTYPE RequestBorderSpace(LPCBORDERWIDTHS) override
    {
        return INPLACE_E_NOTOOLSPACE;
    }
    HRESULT STDMETHODCALLTYPE SetBorderSpace(LPCBORDERWIDTHS) override { return OLE_E_INVALIDRECT; }
    // The object the page's keys go to first (nullptr when it deactivates).
    HRESULT STDMETHODCALLTYPE SetActiveObject(IOleInPlaceActiveObject* object, LPCOLESTR) override
    {
        if (!m_host)
            object = nullptr;
        if (object)
            object->AddRef();
        release(m_activeObject);
        m_activeObject = object;
        return S_OK;
    }

    // IOleInPlaceFrame
    HRESULT STDMETHODCALLTYPE InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE RemoveMenus(HMENU) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetStatusText(LPCOLESTR) override { return S_OK; }
    // Also IDocHostUIHandler's.
    HRESULT STDMETHODCALLTYPE EnableModeless(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

    // IOleControlSite
    HRESULT STDMETHODCALLTYPE OnControlInfoChanged() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE LockInPlaceActive(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetExtendedControl(IDispatch** control) override
    {
        if (control)
            *control = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE TransformCoords(POINTL*, POINTF*, DWORD) override
    {
        return E_NOTIMPL;
    }
    // The page asks its container for the keys it does not use itself: a Tab
    // past its last link leaves it for the window's next control.
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG* message, DWORD modifiers) override
    {
        if (!m_host || !message || !isTab(*message))
            return S_FALSE;
        const bool forward = !(modifiers & kShiftModifier) && !keyDown(VK_SHIFT);
        QMetaObject::invokeMethod(
            m_host, [host = m_host, forward] { host->leavePage(forward); }, Qt::QueuedConnection);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnFocus(BOOL gotFocus) override
    {
        if (gotFocus && m_host)
            m_host->pageActivated();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ShowPropertyFrame() override { return E_NOTIMPL; }

    // IDocHostUIHandler
    // No IE context menu ("View source" and the like): the page shows none.
    HRESULT STDMETHODCALLTYPE ShowContextMenu(DWORD, POINT*, IUnknown*, IDispatch*) override
    {
        return S_OK;
    }
    // The page's text scales with the screen as the window does, and the
    // page sits in its frame without a sunken border, in the system's theme.
    HRESULT STDMETHODCALLTYPE GetHostInfo(DOCHOSTUIINFO* info) override
    {
        if (!info)
            return E_POINTER;
        info->dwFlags = kHostFlags;
        info->dwDoubleClick = DOCHOSTUIDBLCLK_DEFAULT;
        info->pchHostCss = nullptr;
        info->pchHostNS = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ShowUI(DWORD, IOleInPlaceActiveObject*, IOleCommandTarget*,
                                     IOleInPlaceFrame*, IOleInPlaceUIWindow*) override
    {
        return S_OK; // the host's own "UI" is in place: no IE menus or toolbars
    }
    HRESULT STDMETHODCALLTYPE HideUI() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE UpdateUI() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnDocWindowActivate(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnFrameWindowActivate(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override
    {
        return S_OK;
    }
    // IE's own windows and dialogs stay shut: new window, open, print, find.
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG message, const GUID*, DWORD) override
    {
        if (message && (message->message == WM_KEYDOWN || message->message == WM_SYSKEYDOWN) &&
            keyDown(VK_CONTROL) && !keyDown(VK_MENU)) {
            switch (message->wParam) {
            case 'N':
            case 'O':
            case 'P':
            case 'F':
                return S_OK;
            default:
                break;
            }
        }
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE GetOptionKeyPath(LPOLESTR* key, DWORD) override
    {
        if (key)
            *key = nullptr;
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE GetDropTarget(IDropTarget*, IDropTarget** target) override
    {
        if (target)
            *target = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetExternal(IDispatch** external) override
    {
        if (external)
            *external = nullptr;
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE TranslateUrl(DWORD, LPWSTR, LPWSTR* translated) override
    {
        if (translated)
            *translated = nullptr;
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE FilterDataObject(IDataObject*, IDataObject** filtered) override
    {
        if (filtered)
            *filtered = nullptr;
        return S_FALSE;
    }

    // IOleCommandTarget
    HRESULT STDMETHODCALLTYPE QueryStatus(const GUID*, ULONG, OLECMD*, OLECMDTEXT*) override
    {
        return OLECMDERR_E_UNKNOWNGROUP;
    }
    // A script error shows no dialog: the answer is to go on running scripts.
    HRESULT STDMETHODCALLTYPE Exec(const GUID* group, DWORD command, DWORD, VARIANT*,
                                   VARIANT* out) override
    {
        if (!group || !IsEqualGUID(*group, kDocHostCommandHandler))
            return OLECMDERR_E_UNKNOWNGROUP;
        if (command != OLECMDID_SHOWSCRIPTERROR)
            return OLECMDERR_E_NOTSUPPORTED;
        if (out) {
            VariantClear(out);
            V_VT(out) = VT_BOOL;
            V_BOOL(out) = VARIANT_TRUE;
        }
        return S_OK;
    }

    // IDispatch: the control's events (DWebBrowserEvents2); no ambient
    // properties of our own.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override
    {
        if (count)
            *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override
    {
        if (info)
            *info = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID, LCID, WORD, DISPPARAMS* parameters,
                                     VARIANT*, EXCEPINFO*, UINT*) override
    {
        switch (member) {
        case DISPID_NEWWINDOW3:
            return newWindow(parameters);
        case DISPID_DOCUMENTCOMPLETE:
            // A page that focused itself while loading gives the keyboard back.
            if (m_host)
                m_host->pageActivated();
            return S_OK;
        default:
            return DISP_E_MEMBERNOTFOUND;
        }
    }

private:
    ~OleSite()
    {
        release(m_activeObject);
        --g_liveSites;
    }

    static bool keyDown(int key) { return GetKeyState(key) < 0; }
    static bool isTab(const MSG& message)
    {
        return message.message == WM_KEYDOWN && message.wParam == VK_TAB && !keyDown(VK_CONTROL) &&
               !keyDown(VK_MENU);
    }

    // NewWindow3(ppDisp, Cancel, dwFlags, bstrUrlContext, bstrUrl), its
    // arguments last first: never an IE window; the address goes to the
    // user's browser instead.
    HRESULT newWindow(DISPPARAMS* parameters)
    {
        if (!parameters || parameters->cArgs != 5)
            return E_INVALIDARG;
        VARIANT& cancel = parameters->rgvarg[3];
        VARIANT& address = parameters->rgvarg[0];
        if (V_VT(&cancel) != (VT_BYREF | VT_BOOL) || !V_BOOLREF(&cancel))
            return E_INVALIDARG;
        *V_BOOLREF(&cancel) = VARIANT_TRUE;
        if (m_host && V_VT(&address) == VT_BSTR && V_BSTR(&address)) {
            const QString text =
                QString::fromWCharArray(V_BSTR(&address), int(SysStringLen(V_BSTR(&address))));
            m_host->openNewWindow(QUrl(text));
        }
        return S_OK;
    }

    HWND m_window;
    WebBrowserHost* m_host;
    IOleInPlaceActiveObject* m_activeObject = nullptr;
    ULONG m_references = 1;
};

WebBrowserHost::WebBrowserHost(QWidget* parent, Control control, LinkOpener* opener)
    : QWidget(parent), m_control(control), m_opener(opener ? opener : &g_desktopOpener)
{
    // A native child window of its own for the control (its siblings stay
    // drawn by Qt: see prepareApplication()).
    setAttribute(Qt::WA_NativeWindow);
    setFocusPolicy(Qt::StrongFocus);
}

WebBrowserHost::~WebBrowserHost()
{
    releaseControl();
}

int WebBrowserHost::liveSites()
{
    return g_liveSites;
}

IOleClientSite* WebBrowserHost::site() const
{
    return m_browser ? static_cast<IOleClientSite*>(m_site) : nullptr;
}

void WebBrowserHost::navigate(const QUrl& url)
{
    m_url = url;
    if (!m_createTried) {
        m_createTried = true;
        if (m_control == Control::System && !createControl()) {
            releaseControl();
            qWarning("mizong: the WebBrowser control is not available; the announcement address "
                     "is shown as text");
        }
    }
    if (!m_browser) {
        showFallback();
        return;
    }
    const QString address = url.toString(QUrl::FullyEncoded);
    BSTR text =
        SysAllocStringLen(reinterpret_cast<const OLECHAR*>(address.utf16()), UINT(address.size()));
    VARIANT none;
    VariantInit(&none);
    const HRESULT result = m_browser->Navigate(text, &none, &none, &none, &none);
    SysFreeString(text);
    if (FAILED(result))
        qWarning("mizong: the WebBrowser control refused the address (0x%08lx)",
                 static_cast<unsigned long>(result));
}

QString WebBrowserHost::controlLocation() const
{
    if (!m_browser)
        return {};
    BSTR location = nullptr;
    if (FAILED(m_browser->get_LocationURL(&location)) || !location)
        return {};
    QString answer = QString::fromWCharArray(location, int(SysStringLen(location)));
    SysFreeString(location);
    return answer;
}

bool WebBrowserHost::createControl()
{
    const auto window = reinterpret_cast<HWND>(winId());
    // Qt has initialised OLE on this thread already; this only counts once more,
    // so that the control never outlives OLE.
    if (FAILED(OleInitialize(nullptr)))
        return false;
    m_oleInitialized = true;
    if (FAILED(CoCreateInstance(CLSID_WebBrowser, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject,
                                reinterpret_cast<void**>(&m_object))))
        return false;
    m_site = new OleSite(window, this);
    // The control asks its site for the document host (IDocHostUIHandler)
    // and the command target when it makes each page.
    if (FAILED(m_object->SetClientSite(m_site)))
        return false;
    OleSetContainedObject(m_object, TRUE);
    RECT area;
    GetClientRect(window, &area);
    if (FAILED(m_object->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, m_site, 0, window, &area)))
        return false;
    if (FAILED(m_object->QueryInterface(IID_IOleInPlaceObject,
                                        reinterpret_cast<void**>(&m_inPlace))) ||
        FAILED(m_object->QueryInterface(IID_IWebBrowser2, reinterpret_cast<void**>(&m_browser))))
        return false;
    // In place now: messages about scripts or certificates never come up as
    // dialogs. A control that refuses still shows the page.
    const HRESULT silent = m_browser->put_Silent(VARIANT_TRUE);
    if (FAILED(silent))
        qWarning("mizong: the WebBrowser control refused to be silent (0x%08lx)",
                 static_cast<unsigned long>(silent));
    connectEvents();
    QCoreApplication::instance()->installNativeEventFilter(this);
    fitControl();
    return true;
}

void WebBrowserHost::connectEvents()
{
    IConnectionPointContainer* container = nullptr;
    if (SUCCEEDED(m_browser->QueryInterface(IID_IConnectionPointContainer,
                                            reinterpret_cast<void**>(&container)))) {
        if (SUCCEEDED(container->FindConnectionPoint(DIID_DWebBrowserEvents2, &m_events))) {
            DWORD cookie = 0;
            if (SUCCEEDED(m_events->Advise(static_cast<IDispatch*>(m_site), &cookie)))
                m_eventsCookie = cookie;
            else
                release(m_events);
        }
        container->Release();
    }
    if (!m_events)
        qWarning("mizong: no events from the WebBrowser control; new windows open in it");
}

void WebBrowserHost::releaseControl()
{
    if (QCoreApplication* application = QCoreApplication::instance())
        application->removeNativeEventFilter(this);
    if (m_events) {
        m_events->Unadvise(m_eventsCookie);
        release(m_events);
    }
    if (m_site)
        m_site->detach();
    if (m_inPlace)
        m_inPlace->InPlaceDeactivate();
    release(m_inPlace);
    release(m_browser);
    if (m_object) {
        m_object->Close(OLECLOSE_NOSAVE);
        m_object->SetClientSite(nullptr);
    }
    release(m_object);
    release(m_site);
    if (m_oleInitialized) {
        m_oleInitialized = false;
        OleUninitialize();
    }
}

void WebBrowserHost::fitControl()
{
    if (!m_inPlace)
        return;
    // The native window is sized in device pixels by Qt, also when the
    // screen or its scale changes; the control follows its client area.
    RECT area;
    GetClientRect(reinterpret_cast<HWND>(winId()), &area);
    m_inPlace->SetObjectRects(&area, &area);
}

void WebBrowserHost::showFallback()
{
    if (!m_fallback) {
        m_fallback = new QLabel(this);
        m_fallback->setObjectName(QStringLiteral("address"));
        // An address from outside is never read as markup.
        m_fallback->setTextFormat(Qt::PlainText);
        m_fallback->setWordWrap(true);
        m_fallback->setAlignment(Qt::AlignCenter);
        m_fallback->setTextInteractionFlags(Qt::TextSelectableByMouse);
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(m_fallback);
        m_fallback->show();
    }
    m_fallback->setText(m_url.toDisplayString());
}

QString WebBrowserHost::fallbackText() const
{
    return m_fallback ? m_fallback->text() : QString();
}

bool WebBrowserHost::insidePage(const void* window) const
{
    const auto host = reinterpret_cast<HWND>(internalWinId());
    return host && window && IsChild(host, static_cast<HWND>(const_cast<void*>(window)));
}

bool WebBrowserHost::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*)
{
    // Every message Qt's event loop takes from the queue, also those for the
    // control's own windows, which Qt does not know.
    if (eventType != "windows_generic_MSG")
        return false;
    auto* msg = static_cast<MSG*>(message);
    if (!insidePage(msg->hwnd))
        return false;
    switch (msg->message) {
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
        // The user points into the page: now it may have the keyboard.
        m_userEntered = true;
        if (!hasFocus())
            setFocus(Qt::MouseFocusReason);
        return false;
    default:
        break;
    }
    if (msg->message < WM_KEYFIRST || msg->message > WM_KEYLAST || !m_site)
        return false;
    if (IOleInPlaceActiveObject* active = m_site->activeObject()) {
        active->AddRef();
        const HRESULT translated = active->TranslateAccelerator(msg);
        active->Release();
        if (translated == S_OK)
            return true;
    }
    // A Tab the page did not use: on to the window's next control.
    if (msg->message == WM_KEYDOWN && msg->wParam == VK_TAB && GetKeyState(VK_CONTROL) >= 0 &&
        GetKeyState(VK_MENU) >= 0) {
        leavePage(GetKeyState(VK_SHIFT) >= 0);
        return true;
    }
    return false;
}

void WebBrowserHost::openNewWindow(const QUrl& url)
{
    if (!m_opener->open(url))
        qWarning("mizong: cannot open %s in the web browser", qPrintable(url.toDisplayString()));
}

void WebBrowserHost::pageActivated()
{
    // Only the user brings the keyboard into the page, by Tab or a click; a
    // page that focuses itself while it loads leaves it where it was.
    if (hasFocus() || m_userEntered)
        return;
    QMetaObject::invokeMethod(this, &WebBrowserHost::giveKeyboardBack, Qt::QueuedConnection);
}

void WebBrowserHost::leavePage(bool forward)
{
    m_leaving = true;
    giveKeyboardBack();
    if (!hasFocus())
        setFocus(Qt::OtherFocusReason);
    focusNextPrevChild(forward);
    m_leaving = false;
}

void WebBrowserHost::giveKeyboardBack()
{
    if (hasFocus() && !m_leaving)
        return; // the user is in the page after all
    m_userEntered = false;
    if (m_inPlace)
        m_inPlace->UIDeactivate();
    const auto host = reinterpret_cast<HWND>(internalWinId());
    const HWND focus = GetFocus();
    if (host && (focus == host || IsChild(host, focus)))
        SetFocus(reinterpret_cast<HWND>(window()->winId()));
}

bool WebBrowserHost::nativeEvent(const QByteArray& eventType, void* message, qintptr* result)
{
    if (eventType == "windows_generic_MSG" && static_cast<MSG*>(message)->message == WM_SIZE)
        fitControl();
    return QWidget::nativeEvent(eventType, message, result);
}

void WebBrowserHost::focusInEvent(QFocusEvent* event)
{
    // Tabbing into the frame hands the keyboard to the page.
    if (m_object && m_site && !m_leaving) {
        const auto window = reinterpret_cast<HWND>(winId());
        RECT area;
        GetClientRect(window, &area);
        m_object->DoVerb(OLEIVERB_UIACTIVATE, nullptr, m_site, 0, window, &area);
    }
    QWidget::focusInEvent(event);
}

void WebBrowserHost::focusOutEvent(QFocusEvent* event)
{
    // Another control of the window took the focus: the page lets go of the
    // keyboard. (Another window's activation leaves the page as it is.)
    if (event->reason() != Qt::ActiveWindowFocusReason && event->reason() != Qt::PopupFocusReason &&
        !m_leaving)
        giveKeyboardBack();
    QWidget::focusOutEvent(event);
}

void WebBrowserHost::resizeEvent(QResizeEvent* event)
{
    fitControl();
    QWidget::resizeEvent(event);
}

} // namespace mizong
