#include "application.h"
#include "browser_frame.h"
#include "page_server.h"
#include "window_doubles.h"
#include "windows/shell_open.h"
#include "windows/web_browser_host.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QScopeGuard>
#include <QTest>

#include <docobj.h>
#include <exdisp.h>
#include <exdispid.h>
#include <memory>
#include <mshtmhst.h>
#include <ocidl.h>
#include <optional>
#include <windows.h>

using namespace Qt::StringLiterals;
using mizong::WebBrowserHost;
using mizong::testing::PageServer;
using mizong::testing::Request;

namespace {

// The control's own window: the only child of the host's native window
// besides Qt's (the fallback label is drawn by Qt, without a window).
HWND controlWindow(const QWidget& host)
{
    return GetWindow(reinterpret_cast<HWND>(host.winId()), GW_CHILD);
}

QSize deviceSize(const QWidget& widget)
{
    return widget.size() * widget.devicePixelRatio();
}

// One of the site's interfaces, as the control would ask for it.
template <typename Interface> Interface* siteInterface(const WebBrowserHost& host, REFIID id)
{
    IOleClientSite* site = host.site();
    void* object = nullptr;
    if (!site || FAILED(site->QueryInterface(id, &object)))
        return nullptr;
    return static_cast<Interface*>(object);
}

// Releases a COM reference at the end of a scope.
template <typename Interface> struct Held
{
    Interface* object;
    ~Held()
    {
        if (object)
            object->Release();
    }
    Interface* operator->() const { return object; }
    explicit operator bool() const { return object != nullptr; }
};

// Whether the keyboard (Windows' focus) is inside the host's window.
bool keyboardInside(const QWidget& host)
{
    const auto window = reinterpret_cast<HWND>(host.winId());
    const HWND focus = GetFocus();
    return focus == window || IsChild(window, focus);
}

// Sets or clears Shift in this thread's keyboard state, as a held key would.
void holdShift(bool down)
{
    BYTE keys[256];
    GetKeyboardState(keys);
    keys[VK_SHIFT] = keys[VK_LSHIFT] = down ? 0x80 : 0;
    SetKeyboardState(keys);
}

// The page's active object, as the test double of the control: it records
// the keys it is offered and uses all but Tab.
class RecordingActiveObject final : public IOleInPlaceActiveObject
{
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) override
    {
        if (!object)
            return E_POINTER;
        if (IsEqualIID(id, IID_IUnknown) || IsEqualIID(id, IID_IOleWindow) ||
            IsEqualIID(id, IID_IOleInPlaceActiveObject)) {
            *object = static_cast<IOleInPlaceActiveObject*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }
    HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override
    {
        if (window)
            *window = nullptr;
        return E_FAIL;
    }
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG message) override
    {
        keys.append({message->message, message->wParam});
        return message->wParam == VK_TAB ? S_FALSE : S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnFrameWindowActivate(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnDocWindowActivate(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override
    {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE EnableModeless(BOOL) override { return S_OK; }

    QList<std::pair<UINT, WPARAM>> keys;
    ULONG references = 1; // the test's own, on the stack
};

// A window with a box before and after the page, in this tab order.
struct PageBetweenBoxes
{
    explicit PageBetweenBoxes(mizong::LinkOpener* opener = nullptr)
    {
        window.resize(600, 400);
        before = new QLineEdit(&window);
        before->setGeometry(10, 10, 200, 24);
        host = new WebBrowserHost(&window, WebBrowserHost::Control::System, opener);
        host->setGeometry(10, 50, 369, 221);
        after = new QLineEdit(&window);
        after->setGeometry(10, 300, 200, 24);
        QWidget::setTabOrder(before, host);
        QWidget::setTabOrder(host, after);
    }
    bool show()
    {
        window.show();
        window.activateWindow();
        if (!QTest::qWaitForWindowActive(&window))
            return false;
        host->navigate(QUrl(u"about:blank"_s));
        return host->hasControl();
    }

    QWidget window;
    QLineEdit* before;
    WebBrowserHost* host;
    QLineEdit* after;
};

// The page focused, with a test double as the control's active object, which
// the page's frame is told of as the control itself tells it.
struct ActivePage
{
    ActivePage() = default;
    ~ActivePage()
    {
        if (frame) {
            frame->SetActiveObject(nullptr, nullptr);
            frame->Release();
        }
    }
    Q_DISABLE_COPY_MOVE(ActivePage)

    bool start()
    {
        if (!page.show())
            return false;
        page.host->setFocus(Qt::TabFocusReason);
        if (!QTest::qWaitFor([this] { return page.host->hasFocus(); }))
            return false;
        QCoreApplication::processEvents();
        frame = siteInterface<IOleInPlaceUIWindow>(*page.host, IID_IOleInPlaceUIWindow);
        return frame && frame->SetActiveObject(&active, nullptr) == S_OK;
    }

    PageBetweenBoxes page;
    RecordingActiveObject active;
    IOleInPlaceUIWindow* frame = nullptr;
};

} // namespace

class TestWindows : public QObject
{
    Q_OBJECT

private slots:
    void controlNavigates();
    void controlFillsHost_data();
    void controlFillsHost();
    void controlReleased();
    void fallbackShowsAddress_data();
    void fallbackShowsAddress();
    void frameHostsControl();
    void silentOnceInPlace();
    void hostInfoFlags();
    void noContextMenu();
    void scriptErrorsGoOnSilently();
    void newWindowGoesToBrowser();
    void acceleratorsReachPage();
    void tabLeavesPage_data();
    void tabLeavesPage();
    void loadingPageKeepsOffKeyboard();
    void shellOpenAddress_data();
    void shellOpenAddress();
};

void TestWindows::controlNavigates()
{
    // The control fetches the page itself: the request tells where it went.
    PageServer server;
    server.setDefaultPage("ok");
    const QString base = server.start();
    QVERIFY(!base.isEmpty());

    WebBrowserHost host;
    host.resize(369, 221);
    host.show();
    QVERIFY(QTest::qWaitForWindowExposed(&host));
    const QUrl address(base + u"/公告?a=1&b=二"_s);
    host.navigate(address);
    QVERIFY(host.hasControl());
    QVERIFY(!host.fallbackLabel());
    QCOMPARE(host.url(), address);
    QVERIFY(controlWindow(host));
    QTRY_VERIFY_WITH_TIMEOUT(!server.log().isEmpty(), 20000);
    const Request& request = server.log().first();
    QCOMPARE(request.method + ' ' + request.target + ' ' + request.version,
             QByteArray("GET /%E5%85%AC%E5%91%8A?a=1&b=%E4%BA%8C HTTP/1.1"));
}

void TestWindows::controlFillsHost_data()
{
    QTest::addColumn<QSize>("size");
    QTest::newRow("announcement") << QSize(369, 221);
    QTest::newRow("one pixel") << QSize(1, 1);
    QTest::newRow("wide") << QSize(1200, 90);
    QTest::newRow("tall") << QSize(90, 900);
}

void TestWindows::controlFillsHost()
{
    QFETCH(QSize, size);
    QWidget window;
    window.resize(1300, 1000);
    auto* host = new WebBrowserHost(&window);
    host->setGeometry(QRect(QPoint(24, 176), QSize(200, 150)));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    host->navigate(QUrl(u"about:blank"_s));
    QVERIFY(host->hasControl());
    const HWND control = controlWindow(*host);
    QVERIFY(control);

    // Resized after the control came in place: it follows, in device pixels.
    host->resize(size);
    QTRY_VERIFY([&] {
        RECT area;
        return GetWindowRect(control, &area) &&
               QSize(area.right - area.left, area.bottom - area.top) == deviceSize(*host);
    }());
    RECT origin;
    GetWindowRect(control, &origin);
    POINT corner{origin.left, origin.top};
    ScreenToClient(reinterpret_cast<HWND>(host->winId()), &corner);
    QCOMPARE(QPoint(corner.x, corner.y), QPoint(0, 0));
}

void TestWindows::controlReleased()
{
    const int before = WebBrowserHost::liveSites();
    {
        WebBrowserHost host;
        host.resize(200, 100);
        host.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host));
        host.navigate(QUrl(u"about:blank"_s));
        QVERIFY(host.hasControl());
        QCOMPARE(WebBrowserHost::liveSites(), before + 1);
    }
    // Closed, the control has let go of every reference to its site.
    QCOMPARE(WebBrowserHost::liveSites(), before);
}

void TestWindows::fallbackShowsAddress_data()
{
    QTest::addColumn<QUrl>("address");
    QTest::addColumn<QString>("shown");
    QTest::newRow("plain") << QUrl(u"http://127.0.0.1:8765/gonggao.htm"_s)
                           << u"http://127.0.0.1:8765/gonggao.htm"_s;
    QTest::newRow("chinese path") << QUrl(u"http://127.0.0.1:8765/%E5%85%AC%E5%91%8A"_s)
                                  << u"http://127.0.0.1:8765/公告"_s;
    // An entity that rich text would turn into "&": shown as it is.
    QTest::newRow("entity") << QUrl(u"http://127.0.0.1:8765/?q=a&amp;b"_s)
                            << u"http://127.0.0.1:8765/?q=a&amp;b"_s;
}

void TestWindows::fallbackShowsAddress()
{
    QFETCH(QUrl, address);
    QFETCH(QString, shown);
    WebBrowserHost host(nullptr, WebBrowserHost::Control::TextOnly);
    host.resize(369, 221);
    host.show();
    QVERIFY(QTest::qWaitForWindowExposed(&host));
    host.navigate(address);
    QVERIFY(!host.hasControl());
    QVERIFY(!controlWindow(host));
    QVERIFY(host.fallbackLabel());
    QCOMPARE(host.fallbackLabel()->text(), shown);
    QCOMPARE(host.fallbackLabel()->textFormat(), Qt::PlainText);
    QVERIFY(host.fallbackLabel()->isVisible());
    QCOMPARE(WebBrowserHost::liveSites(), 0);

    // A second navigation replaces the text.
    host.navigate(QUrl(u"http://127.0.0.1:8765/next"_s));
    QCOMPARE(host.fallbackLabel()->text(), u"http://127.0.0.1:8765/next"_s);
}

void TestWindows::frameHostsControl()
{
    mizong::BrowserFrame frame({});
    frame.resize(369, 221);
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    const QUrl address(u"http://127.0.0.1:9/gonggao.htm"_s);
    frame.navigate(address);
    auto* host = qobject_cast<WebBrowserHost*>(frame.view());
    QVERIFY(host);
    QCOMPARE(host->url(), address);
    QCOMPARE(host->geometry(), frame.rect());
    QCOMPARE(frame.focusProxy(), host);
}

void TestWindows::silentOnceInPlace()
{
    WebBrowserHost host;
    host.resize(200, 100);
    host.show();
    QVERIFY(QTest::qWaitForWindowExposed(&host));
    host.navigate(QUrl(u"about:blank"_s));
    QVERIFY(host.hasControl());
    VARIANT_BOOL silent = VARIANT_FALSE;
    QVERIFY(SUCCEEDED(host.browser()->get_Silent(&silent)));
    QCOMPARE(silent, VARIANT_TRUE);
}

void TestWindows::hostInfoFlags()
{
    // What MSHTML asks before it lays out each page.
    PageBetweenBoxes page;
    QVERIFY(page.show());
    Held<IDocHostUIHandler> handler{
        siteInterface<IDocHostUIHandler>(*page.host, IID_IDocHostUIHandler)};
    QVERIFY(handler);
    DOCHOSTUIINFO info{};
    info.cbSize = sizeof info;
    info.dwFlags = DOCHOSTUIFLAG_SCROLL_NO; // whatever was there is replaced
    QCOMPARE(handler->GetHostInfo(&info), S_OK);
    QCOMPARE(info.dwFlags,
             DWORD(DOCHOSTUIFLAG_DPI_AWARE | DOCHOSTUIFLAG_NO3DBORDER | DOCHOSTUIFLAG_THEME));
    QCOMPARE(info.dwDoubleClick, DWORD(DOCHOSTUIDBLCLK_DEFAULT));
    QVERIFY(!info.pchHostCss);
    QVERIFY(!info.pchHostNS);
}

void TestWindows::noContextMenu()
{
    // S_OK: the host has shown its menu (none); IE's own stays away.
    PageBetweenBoxes page;
    QVERIFY(page.show());
    Held<IDocHostUIHandler> handler{
        siteInterface<IDocHostUIHandler>(*page.host, IID_IDocHostUIHandler)};
    QVERIFY(handler);
    POINT at{20, 20};
    QCOMPARE(handler->ShowContextMenu(CONTEXT_MENU_DEFAULT, &at, nullptr, nullptr), S_OK);
    QCOMPARE(handler->ShowContextMenu(CONTEXT_MENU_TEXTSELECT, &at, nullptr, nullptr), S_OK);
}

void TestWindows::scriptErrorsGoOnSilently()
{
    PageBetweenBoxes page;
    QVERIFY(page.show());
    Held<IOleCommandTarget> target{
        siteInterface<IOleCommandTarget>(*page.host, IID_IOleCommandTarget)};
    QVERIFY(target);
    const GUID docHostCommands = {
        0xf38bc242, 0xb950, 0x11d1, {0x89, 0x18, 0x00, 0xc0, 0x4f, 0xc2, 0xc8, 0x36}};
    VARIANT in;
    VariantInit(&in);
    VARIANT out;
    VariantInit(&out);
    // The answer "go on running scripts", and no dialog.
    QCOMPARE(target->Exec(&docHostCommands, OLECMDID_SHOWSCRIPTERROR, OLECMDEXECOPT_DODEFAULT, &in,
                          &out),
             S_OK);
    QCOMPARE(V_VT(&out), VT_BOOL);
    QCOMPARE(V_BOOL(&out), VARIANT_TRUE);
    // Anything else is left to MSHTML.
    QCOMPARE(target->Exec(&docHostCommands, OLECMDID_SHOWMESSAGE, 0, &in, &out),
             OLECMDERR_E_NOTSUPPORTED);
    QCOMPARE(target->Exec(&CLSID_WebBrowser, OLECMDID_SHOWSCRIPTERROR, 0, &in, &out),
             OLECMDERR_E_UNKNOWNGROUP);
    QCOMPARE(target->Exec(nullptr, OLECMDID_SHOWSCRIPTERROR, 0, &in, &out),
             OLECMDERR_E_UNKNOWNGROUP);
}

void TestWindows::newWindowGoesToBrowser()
{
    // As the control fires DWebBrowserEvents2::NewWindow3 for target=_blank
    // or window.open: cancelled, and the address handed to the opener.
    mizong::testing::RecordingOpener opener;
    PageBetweenBoxes page(&opener);
    QVERIFY(page.show());
    Held<IDispatch> events{siteInterface<IDispatch>(*page.host, DIID_DWebBrowserEvents2)};
    QVERIFY(events);

    const QString address = u"http://127.0.0.1:8765/201302/285.html"_s;
    BSTR url = SysAllocString(reinterpret_cast<const OLECHAR*>(address.utf16()));
    BSTR context = SysAllocString(L"http://127.0.0.1:8765/gonggao.html");
    VARIANT_BOOL cancel = VARIANT_FALSE;
    IDispatch* newBrowser = nullptr;
    VARIANT arguments[5];
    for (VARIANT& argument : arguments)
        VariantInit(&argument);
    // Last argument first.
    V_VT(&arguments[4]) = VT_BYREF | VT_DISPATCH;
    V_DISPATCHREF(&arguments[4]) = &newBrowser;
    V_VT(&arguments[3]) = VT_BYREF | VT_BOOL;
    V_BOOLREF(&arguments[3]) = &cancel;
    V_VT(&arguments[2]) = VT_UI4;
    V_UI4(&arguments[2]) = 0x6; // NWMF_USERINITED | NWMF_FIRST
    V_VT(&arguments[1]) = VT_BSTR;
    V_BSTR(&arguments[1]) = context;
    V_VT(&arguments[0]) = VT_BSTR;
    V_BSTR(&arguments[0]) = url;
    DISPPARAMS parameters{arguments, nullptr, 5, 0};
    const HRESULT result = events->Invoke(DISPID_NEWWINDOW3, IID_NULL, LOCALE_USER_DEFAULT,
                                          DISPATCH_METHOD, &parameters, nullptr, nullptr, nullptr);
    SysFreeString(url);
    SysFreeString(context);
    QCOMPARE(result, S_OK);
    QCOMPARE(cancel, VARIANT_TRUE);
    QVERIFY(!newBrowser);
    QCOMPARE(opener.opened, QList<QUrl>{QUrl(address)});
}

void TestWindows::acceleratorsReachPage()
{
    // Keys for the page's windows go to its active object before they are
    // dispatched, so that MSHTML's accelerators (Tab between links, copy,
    // select all) work.
    ActivePage activePage;
    QVERIFY(activePage.start());
    PageBetweenBoxes& page = activePage.page;
    RecordingActiveObject& active = activePage.active;

    const HWND control = controlWindow(*page.host);
    QVERIFY(control);
    PostMessageW(control, WM_KEYDOWN, 'C', 0);
    PostMessageW(control, WM_KEYUP, 'C', 0);
    QTRY_COMPARE(active.keys.size(), 2);
    QCOMPARE(active.keys[0], std::make_pair(UINT(WM_KEYDOWN), WPARAM('C')));
    QCOMPARE(active.keys[1], std::make_pair(UINT(WM_KEYUP), WPARAM('C')));

    // Keys of the window's own controls never go there.
    PostMessageW(reinterpret_cast<HWND>(page.window.winId()), WM_KEYDOWN, 'D', 0);
    QTest::qWait(200);
    QCOMPARE(active.keys.size(), 2);

    // Deactivated, the object is let go of.
    QCOMPARE(activePage.frame->SetActiveObject(nullptr, nullptr), S_OK);
    QCOMPARE(active.references, ULONG(1));
}

void TestWindows::tabLeavesPage_data()
{
    QTest::addColumn<bool>("forward");
    QTest::addColumn<bool>("fromControlSite"); // the page asks its site, else it refuses the key
    QTest::newRow("tab, refused by the page") << true << false;
    QTest::newRow("shift+tab, refused by the page") << false << false;
    QTest::newRow("tab, past the page's last link") << true << true;
    QTest::newRow("shift+tab, before the page's first link") << false << true;
}

void TestWindows::tabLeavesPage()
{
    QFETCH(bool, forward);
    QFETCH(bool, fromControlSite);
    ActivePage activePage;
    QVERIFY(activePage.start());
    PageBetweenBoxes& page = activePage.page;

    holdShift(!forward);
    const auto released = qScopeGuard([] { holdShift(false); });
    MSG tab{controlWindow(*page.host), WM_KEYDOWN, VK_TAB, 0, 0, {}};
    if (fromControlSite) {
        Held<IOleControlSite> site{siteInterface<IOleControlSite>(*page.host, IID_IOleControlSite)};
        QVERIFY(site);
        QCOMPARE(site->TranslateAccelerator(&tab, forward ? 0 : 1 /* KEYMOD_SHIFT */), S_OK);
    } else {
        PostMessageW(tab.hwnd, tab.message, tab.wParam, tab.lParam);
    }
    QLineEdit* next = forward ? page.after : page.before;
    QTRY_COMPARE(QApplication::focusWidget(), next);
    QVERIFY(!keyboardInside(*page.host));
}

void TestWindows::loadingPageKeepsOffKeyboard()
{
    // The initial focus stays in the first box however the page loads: a page
    // that focuses itself (autofocus, a script) UI-activates the control, and
    // the control takes Windows' focus for its window.
    PageBetweenBoxes page;
    page.before->setFocus();
    QVERIFY(page.show());
    QTRY_COMPARE(QApplication::focusWidget(), page.before);
    Held<IOleInPlaceSite> site{siteInterface<IOleInPlaceSite>(*page.host, IID_IOleInPlaceSite)};
    QVERIFY(site);
    SetFocus(controlWindow(*page.host));
    QCOMPARE(site->OnUIActivate(), S_OK);
    QTRY_VERIFY(!keyboardInside(*page.host));
    QCOMPARE(QApplication::focusWidget(), page.before);
    // Typing goes on into the box.
    QTest::keyClicks(page.before, u"35"_s);
    QCOMPARE(page.before->text(), u"35"_s);

    // After the user has clicked into the page, it keeps the keyboard.
    const HWND control = controlWindow(*page.host);
    PostMessageW(control, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    PostMessageW(control, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
    QTRY_VERIFY(page.host->hasFocus());
    SetFocus(control);
    QCOMPARE(site->OnUIActivate(), S_OK);
    QTest::qWait(200);
    QVERIFY(page.host->hasFocus());
    QVERIFY(keyboardInside(*page.host));
}

void TestWindows::shellOpenAddress_data()
{
    QTest::addColumn<QUrl>("url");
    QTest::addColumn<QString>("address"); // empty: refused
    QTest::newRow("shop") << QUrl(u"http://127.0.0.1:8765/taobao.php"_s)
                          << u"http://127.0.0.1:8765/taobao.php"_s;
    QTest::newRow("https") << QUrl(u"https://www.example/201302/287.html"_s)
                           << u"https://www.example/201302/287.html"_s;
    QTest::newRow("chinese and space")
        << QUrl(u"http://127.0.0.1:8765/商店 页?q=苹果"_s)
        << u"http://127.0.0.1:8765/%E5%95%86%E5%BA%97%20%E9%A1%B5?q=%E8%8B%B9%E6%9E%9C"_s;
    // From a page's window.open: the shell would run a program for these.
    QTest::newRow("file") << QUrl(u"file:///C:/Windows/System32/calc.exe"_s) << QString();
    QTest::newRow("unc path") << QUrl(u"\\\\server\\share\\setup.exe"_s) << QString();
    QTest::newRow("javascript") << QUrl(u"javascript:alert(1)"_s) << QString();
    QTest::newRow("ms-settings") << QUrl(u"ms-settings:network-proxy"_s) << QString();
    QTest::newRow("no host") << QUrl(u"http:///taobao.php"_s) << QString();
    QTest::newRow("invalid address") << QUrl(u"http://[::1"_s) << QString();
}

void TestWindows::shellOpenAddress()
{
    QFETCH(QUrl, url);
    QFETCH(QString, address);
    const std::optional<QString> handed = mizong::shellOpenAddress(url);
    QCOMPARE(handed.has_value(), !address.isEmpty());
    if (handed)
        QCOMPARE(*handed, address);
}

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    mizong::prepareApplication();
    TestWindows test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_windows.moc"
