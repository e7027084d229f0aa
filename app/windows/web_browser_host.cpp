#include "web_browser_host.h"

#include <QCoreApplication>
#include <QLabel>
#include <QVBoxLayout>

#include <atomic>
#include <exdisp.h>
#include <ole2.h>
#include <oleidl.h>
#include <windows.h>

namespace mizong {

namespace {

std::atomic<int> g_liveSites{0};

template <typename T> void release(T*& pointer)
{
    if (pointer) {
        pointer->Release();
        pointer = nullptr;
    }
}

} // namespace

// What the control sees of its container: one object for the client site,
// the in-place site and the frame, all answering with the host's window. It
// offers no menus, toolbars, status bar or accelerators of its own.
class OleSite final : public IOleClientSite, public IOleInPlaceSite, public IOleInPlaceFrame
{
public:
    explicit OleSite(HWND window) : m_window(window) { ++g_liveSites; }
    Q_DISABLE_COPY_MOVE(OleSite)

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
    HRESULT STDMETHODCALLTYPE OnUIActivate() override { return S_OK; }
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
    HRESULT STDMETHODCALLTYPE SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) override
    {
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
    HRESULT STDMETHODCALLTYPE EnableModeless(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

private:
    ~OleSite() { --g_liveSites; }

    HWND m_window;
    ULONG m_references = 1;
};

WebBrowserHost::WebBrowserHost(QWidget* parent, Control control)
    : QWidget(parent), m_control(control)
{
    // The control lives in a native child window of its own; the window's
    // other controls stay drawn by Qt on the window's surface.
    QCoreApplication::setAttribute(Qt::AA_DontCreateNativeWidgetSiblings);
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
    m_site = new OleSite(window);
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
    // Messages about scripts or certificates never come up as dialogs.
    m_browser->put_Silent(VARIANT_TRUE);
    fitControl();
    return true;
}

void WebBrowserHost::releaseControl()
{
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

bool WebBrowserHost::nativeEvent(const QByteArray& eventType, void* message, qintptr* result)
{
    if (eventType == "windows_generic_MSG" && static_cast<MSG*>(message)->message == WM_SIZE)
        fitControl();
    return QWidget::nativeEvent(eventType, message, result);
}

void WebBrowserHost::focusInEvent(QFocusEvent* event)
{
    // Tabbing into the frame hands the keyboard to the page.
    if (m_object && m_site) {
        const auto window = reinterpret_cast<HWND>(winId());
        RECT area;
        GetClientRect(window, &area);
        m_object->DoVerb(OLEIVERB_UIACTIVATE, nullptr, m_site, 0, window, &area);
    }
    QWidget::focusInEvent(event);
}

void WebBrowserHost::resizeEvent(QResizeEvent* event)
{
    fitControl();
    QWidget::resizeEvent(event);
}

} // namespace mizong
